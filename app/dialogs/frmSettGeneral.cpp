#include "frmSettGeneral.h"
#include "CommonRoutines.h"
#include "Globals.h"
#include "ui_frmSettGeneral.h"
#include <QFileDialog>

frmSettGeneral::frmSettGeneral(Globals& g, std::function<void()> publSaveSettings, QWidget* parent)
    : QDialog(parent),
      ui(std::make_unique<Ui::frmSettGeneral>()),
      m_g(g),
      m_publSaveSettings(std::move(publSaveSettings))
{
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    chooseFile = [this](QString& path) { return ChooseWithFileDialog(path); };

    ShowSettings();

    connect(ui->chkWriteDebug, &QCheckBox::toggled, this, &frmSettGeneral::OnWriteDebugToggled);
    connect(ui->chkClassic, &QCheckBox::toggled, this, &frmSettGeneral::OnClassicToggled);
    connect(ui->cmdSelDebugf, &QPushButton::clicked, this, &frmSettGeneral::ChooseDebugFile);
    connect(ui->cmdOK, &QPushButton::clicked, this, &frmSettGeneral::OnOk);
    connect(ui->cmdCancel, &QPushButton::clicked, this, &frmSettGeneral::OnCancel);
}

frmSettGeneral::~frmSettGeneral() = default;

void frmSettGeneral::ShowSettings()
{
    ui->chkWriteDebug->setChecked(m_g.debugFlag);
    ui->txtDebugf->setText(TrimBlanks(m_g.debugFile));
    ui->txtMsecs->setText(QString::number(m_g.waitBeforeSend));
    ui->chkClassic->setChecked(m_g.classicOnly);
    ui->chkCompress->setChecked(m_g.compress);
    OnWriteDebugToggled();
    OnClassicToggled();
}

void frmSettGeneral::OnWriteDebugToggled()
{
    const bool on = ui->chkWriteDebug->isChecked();
    ui->txtDebugf->setEnabled(on);
    ui->cmdSelDebugf->setEnabled(on);
}

void frmSettGeneral::OnClassicToggled()
{
    // Compression exists only in the extended mode.
    ui->chkCompress->setEnabled(!ui->chkClassic->isChecked());
}

void frmSettGeneral::ChooseDebugFile()
{
    QString path = TrimBlanks(ui->txtDebugf->text());
    if (!chooseFile || !chooseFile(path))
        return;  // cancelled: the box keeps its text
    ui->txtDebugf->setText(TrimBlanks(path));
}

bool frmSettGeneral::ChooseWithFileDialog(QString& path)
{
    // The log need not exist yet, so this is a save-style dialog; it asks
    // before an existing file is chosen (the log is appended to, not replaced).
    const QString chosen = QFileDialog::getSaveFileName(this, tr("Debug file"), path,
                                                        tr("Debug files (*.log)"));
    if (chosen.isEmpty())
        return false;
    path = QDir::toNativeSeparators(chosen);
    return true;
}

void frmSettGeneral::OnOk()
{
    m_g.debugFlag = ui->chkWriteDebug->isChecked();
    m_g.debugFile = TrimBlanks(ui->txtDebugf->text());
    m_g.waitBeforeSend = ValLong(ui->txtMsecs->text());
    m_g.classicOnly = ui->chkClassic->isChecked();
    m_g.compress = ui->chkCompress->isChecked();
    if (m_publSaveSettings)
        m_publSaveSettings();
    accept();
}

void frmSettGeneral::OnCancel()
{
    reject();
}
