#include "frmMain.h"
#include "CommonRoutines.h"
#include "Globals.h"
#include "Station.h"
#include "VelotraxVersion.h"
#include "frmAbout.h"
#include "frmPath.h"
#include "frmSettGeneral.h"
#include "SerialPortList.h"
#include "frmSettings.h"
#include "ui_frmMain.h"
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>
#include <QUrl>
#include <exception>


namespace {
const QString kTitle = QStringLiteral("Velotrax");
const QString kFilter = QStringLiteral("All files (*)");

// A window-modal box that returns at once; done gets the answer when the user gives it.
void OpenMessageBox(QWidget* parent, const QString& text, MsgIcon icon, MsgButtons buttons,
                    std::function<void(MsgAnswer)> done)
{
    QMessageBox::Icon boxIcon = QMessageBox::Information;
    switch (icon) {
    case MsgIcon::Critical: boxIcon = QMessageBox::Critical; break;
    case MsgIcon::Exclamation: boxIcon = QMessageBox::Warning; break;
    case MsgIcon::Information: boxIcon = QMessageBox::Information; break;
    }
    QMessageBox::StandardButtons set = QMessageBox::Ok;
    QMessageBox::StandardButton first = QMessageBox::Ok;
    switch (buttons) {
    case MsgButtons::Ok: break;
    case MsgButtons::OkCancel: set = QMessageBox::Ok | QMessageBox::Cancel; break;
    case MsgButtons::YesNo: set = QMessageBox::Yes | QMessageBox::No; first = QMessageBox::Yes; break;
    }
    auto* box = new QMessageBox(boxIcon, kTitle, text, set, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setDefaultButton(first);
    QObject::connect(box, &QMessageBox::finished, box, [box, buttons, done = std::move(done)] {
        // Escape on a Yes/No box counts as No; on an OK/Cancel box as Cancel.
        const QAbstractButton* clicked = box->clickedButton();
        MsgAnswer answer = MsgAnswer::Ok;
        if (buttons == MsgButtons::YesNo)
            answer = clicked == box->button(QMessageBox::Yes) ? MsgAnswer::Yes : MsgAnswer::No;
        else if (buttons == MsgButtons::OkCancel)
            answer = clicked == box->button(QMessageBox::Ok) ? MsgAnswer::Ok : MsgAnswer::Cancel;
        if (done)
            done(answer);
    });
    box->open();
}

bool RealOpenFileDialog(QWidget* parent, const QString& title, bool multiSelect, const QString& initialFolder,
                        QStringList& chosen)
{
    if (multiSelect)
        chosen = QFileDialog::getOpenFileNames(parent, title, initialFolder, kFilter);
    else {
        const QString one = QFileDialog::getOpenFileName(parent, title, initialFolder, kFilter);
        chosen = one.isEmpty() ? QStringList() : QStringList{one};
    }
    return !chosen.isEmpty();
}

// A file picked below the folder of the last run, to restart, keeps its folder
// there, as that run sent it: "folder NUL sub/name". Empty when it lies in that folder itself.
QString RestartBelow(const QString& lastFolder, const QString& file)
{
    const QString base = QFileInfo(lastFolder).canonicalFilePath();
    const QFileInfo picked(file);
    if (base.isEmpty() || picked.canonicalPath() == base || !picked.canonicalPath().startsWith(base + u'/'))
        return {};
    return QDir::toNativeSeparators(base) + QChar(0) + QDir(base).relativeFilePath(picked.canonicalFilePath());
}
}  // namespace

frmMain::frmMain(Globals& g, CommPort& port, QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::frmMain>()), m_g(g), m_port(port)
{
    // The picture lives in this library's resources, which a static link would otherwise drop.
    Q_INIT_RESOURCE(velotrax);
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Velotrax " VELOTRAX_VERSION));
    m_movingTimer = new QTimer(this);
    m_movingTimer->setInterval(250);
    connect(m_movingTimer, &QTimer::timeout, this, &frmMain::ShowMoving);

    showMessageBox = [this](const QString& text, MsgIcon icon, MsgButtons buttons, std::function<void(MsgAnswer)> done) {
        OpenMessageBox(this, text, icon, buttons, std::move(done));
    };
    showOpenFileDialog = [this](const QString& title, bool multiSelect, const QString& folder, QStringList& chosen) {
        return RealOpenFileDialog(this, title, multiSelect, folder, chosen);
    };
    showOpenFolderDialog = [this](const QString& folder, QString& chosen) {
        chosen = QFileDialog::getExistingDirectory(this, QStringLiteral("Send a folder"), folder);
        return !chosen.isEmpty();
    };
    execDialog = [](QDialog& dialog) { return dialog.exec(); };
    openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    exitProgram = [] { QCoreApplication::exit(0); };

    connect(ui->cmdActivate, &QPushButton::clicked, this, &frmMain::OnActivate);
    connect(ui->btnSendFolder, &QPushButton::clicked, this, &frmMain::OnSendFolder);
    connect(ui->btnRestart, &QPushButton::clicked, this, &frmMain::OnRestart);
    connect(ui->cmdStop, &QPushButton::clicked, this, &frmMain::StopByUser);
    connect(ui->btnPath, &QPushButton::clicked, this, &frmMain::ChooseReceivePath);
    connect(ui->optSender, &QRadioButton::clicked, this, &frmMain::OnSenderChosen);
    connect(ui->optReceiver, &QRadioButton::clicked, this, &frmMain::OnReceiverChosen);
    connect(ui->mnuExit, &QAction::triggered, this, &frmMain::OnExit);
    connect(ui->mnuCommSettings, &QAction::triggered, this, &frmMain::ShowCommSettings);
    connect(ui->mnuGeneralSettings, &QAction::triggered, this, &frmMain::ShowGeneralSettings);
    connect(ui->mnuMnuHelp, &QAction::triggered, this, &frmMain::ShowHelp);
    connect(ui->mnuAbout, &QAction::triggered, this, &frmMain::ShowAbout);

    m_station = std::make_unique<Station>(m_g, m_port, *this);
}

// The station goes first: it still knows this window as its user interface.
frmMain::~frmMain()
{
    m_station.reset();
}

void frmMain::StartUp()
{
    m_station->StartUp();
}

void frmMain::SaveSettingsOnClose()
{
    m_station->SaveSettingsOnClose();
}

void frmMain::closeEvent(QCloseEvent* event)
{
    SaveSettingsOnClose();
    event->accept();
}

// --- UserInterface -------------------------------------------------------

void frmMain::SetStatus1(const QString& text)
{
    ui->lblStatus1->setText(text);
}

void frmMain::SetStatus2(const QString& text)
{
    ui->lblStatus2->setText(text);
}

QString frmMain::Status1() const
{
    return ui->lblStatus1->text();
}

QString frmMain::Status2() const
{
    return ui->lblStatus2->text();
}

void frmMain::SetProgress(float percent)
{
    ui->ProgressBar1->setValue(qBound(0, int(percent), 100));
}

void frmMain::Alert(const QString& text, MsgIcon icon)
{
    showMessageBox(text, icon, MsgButtons::Ok, nullptr);
}

void frmMain::Ask(Question question, const QString& text, std::function<void(bool yes)> reply)
{
    showMessageBox(text, MsgIcon::Exclamation, ButtonsOf(question),
                   [reply = std::move(reply)](MsgAnswer a) { reply(a == MsgAnswer::Yes || a == MsgAnswer::Ok); });
}

void frmMain::ShowMoving()
{
    const FileProgress p = m_station->Progress();
    if (!p.moving) {
        m_movingTotal = -1;
        ui->lblMoving->clear();
        return;
    }
    // Another file, or the same one started again: measure afresh.
    if (!m_rate.Started() || p.name != m_movingName || p.total != m_movingTotal) {
        m_movingName = p.name;
        m_movingTotal = p.total;
        m_rate.Start(p.done);
    }
    ui->lblMoving->setText(MovingText(p, m_rate.BytesPerSecond(p.done)));
}

void frmMain::UpdateControls(bool portOpen)
{
    if (portOpen && !m_movingTimer->isActive()) {
        m_movingTimer->start();
    } else if (!portOpen) {
        m_movingTimer->stop();
        m_movingTotal = -1;
        m_rate = RateMeter();
        ui->lblMoving->clear();
    }
    const bool closed = !portOpen;
    const bool receiver = ui->optReceiver->isChecked();

    ui->mnuExit->setEnabled(closed);
    // A disabled menu title still lets its items' shortcuts through, so the items go too.
    ui->mnuHelp->menuAction()->setEnabled(closed);
    ui->mnuMnuHelp->setEnabled(closed);
    ui->mnuAbout->setEnabled(closed);
    ui->mnuMnuSettings->menuAction()->setEnabled(closed);
    ui->mnuCommSettings->setEnabled(closed);
    ui->mnuGeneralSettings->setEnabled(closed);

    ui->cmdActivate->setEnabled(closed);
    ui->optSender->setEnabled(closed);
    ui->optReceiver->setEnabled(closed);
    ui->cmdStop->setEnabled(portOpen);
    // The path a run writes into does not change under it.
    ui->lblReceivePath->setEnabled(receiver && closed);
    ui->txtReceivePath->setEnabled(receiver && closed);
    ui->btnPath->setEnabled(receiver && closed);
    ui->btnRestart->setEnabled(!receiver && closed);
    ui->btnSendFolder->setEnabled(!receiver && closed);

    if (receiver) {
        ui->cmdActivate->setText(QStringLiteral("Listen"));
        ui->cmdActivate->setToolTip(QStringLiteral("Start waiting for files, sent from sender's side"));
    } else {
        ui->cmdActivate->setText(QStringLiteral("Send files"));
        ui->cmdActivate->setToolTip(QStringLiteral("Select files to send, and send them"));
    }
}

bool frmMain::ChooseFilesToSend(const QString& title, bool multiSelect, const QString& initialFolder,
                                QString& dialogResult)
{
    QStringList chosen;
    dialogResult.clear();
    if (m_folderWanted) {
        QString folder;
        if (!showOpenFolderDialog(initialFolder, folder) || folder.isEmpty())
            return false;
        // One full path: the station sends the folder under its own name.
        dialogResult = QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()));
        return true;
    }
    if (!showOpenFileDialog(title, multiSelect, initialFolder, chosen) || chosen.isEmpty())
        return false;
    if (!multiSelect && chosen.size() > 1)
        chosen = chosen.mid(0, 1);
    // One file to restart (the only single choice): maybe one of a folder.
    if (!multiSelect)
        dialogResult = RestartBelow(initialFolder, chosen.front());
    if (dialogResult.isEmpty())
        dialogResult = FileListToDialogResult(chosen);
    return !dialogResult.isEmpty();
}

QString frmMain::FileListToDialogResult(const QStringList& paths)
{
    if (paths.isEmpty())
        return QString();
    if (paths.size() == 1)
        return QDir::toNativeSeparators(QFileInfo(paths.front()).absoluteFilePath());
    // A file dialog returns names of one folder only; the first one names it.
    const QChar nul(0);
    QString result = QDir::toNativeSeparators(QFileInfo(paths.front()).absolutePath());
    for (const QString& path : paths)
        result += nul + QFileInfo(path).fileName();
    return result;
}

QString frmMain::ReceivePathText() const
{
    return ui->txtReceivePath->text();
}

void frmMain::SetReceivePathText(const QString& text)
{
    ui->txtReceivePath->setText(text);
}

bool frmMain::SenderSelected() const
{
    return ui->optSender->isChecked();
}

void frmMain::SetSenderSelected(bool sender)
{
    if (sender)
        ui->optSender->setChecked(true);
    else
        ui->optReceiver->setChecked(true);
}

// --- Event handlers ------------------------------------------------------

void frmMain::OnActivate()
{
    m_station->Activate(false);
}

void frmMain::OnSendFolder()
{
    m_folderWanted = true;
    m_station->Activate(false);
    m_folderWanted = false;
}

void frmMain::OnRestart()
{
    m_station->Activate(true);
}

void frmMain::StopByUser()
{
    m_station->StopByUser();
}

void frmMain::OnSenderChosen()
{
    UpdateControls(m_port.PortOpen());
}

void frmMain::OnReceiverChosen()
{
    UpdateControls(m_port.PortOpen());
}

void frmMain::ChooseReceivePath()
{
    m_g.pathToChoose = TrimBlanks(ui->txtReceivePath->text());
    frmPath dialog(m_g, this);
    execDialog(dialog);
    if (dialog.m_ok)
        ui->txtReceivePath->setText(m_g.pathToChoose);
}

void frmMain::OnExit()
{
    exitProgram();
}

void frmMain::ShowCommSettings()
{
    frmSettings dialog(m_g, [this] { m_station->SaveSettings(); }, this);
    dialog.SetPortList(
        [] {
            QList<QStringList> rows{SerialPortEntry::Headers()};
            for (const SerialPortEntry& p : ListSerialPorts())
                rows << p.Columns();
            return rows;
        },
#ifdef Q_OS_WIN
        {});  // COMn names the device itself
#else
        [this](int n, const QString& device, QString& why) { return m_port.BindDevice(qint16(n), device, why); });
#endif
    execDialog(dialog);
}

void frmMain::ShowGeneralSettings()
{
    frmSettGeneral dialog(m_g, [this] { m_station->SaveSettings(); }, this);
    execDialog(dialog);
}

void frmMain::ShowHelp()
{
    const QString path = m_station->HelpFile();
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        Alert(QStringLiteral("Help file '") + path + QStringLiteral("' not found"), MsgIcon::Exclamation);
        return;
    }
    if (!openUrl(QUrl::fromLocalFile(path)))
        Alert(QStringLiteral("Could not show the help file '") + path
                  + QStringLiteral("': no program to show it was found"),
              MsgIcon::Exclamation);
}

bool frmMain::ShowAboutBox()
{
    try {
        frmAbout about(this);
        execDialog(about);
        return true;
    } catch (const std::exception&) {
    }
    try {
        frmAboutReserve reserve(this);
        execDialog(reserve);
        return true;
    } catch (const std::exception&) {
    }
    return false;
}

void frmMain::ShowAbout()
{
    if (!ShowAboutBox())
        Alert(QStringLiteral("Velotrax " VELOTRAX_VERSION), MsgIcon::Information);
}
