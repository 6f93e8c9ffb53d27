#include "frmSettings.h"
#include "CommonRoutines.h"
#include "Fso.h"
#include "Globals.h"
#include "Locations.h"
#include "ui_frmSettings.h"
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QTreeWidgetItem>

frmSettings::frmSettings(Globals& g, std::function<void()> publSaveSettings, QWidget* parent,
                         DeviceDescriber describeDevice)
    : QDialog(parent),
      ui(std::make_unique<Ui::frmSettings>()),
      m_g(g),
      m_publSaveSettings(std::move(publSaveSettings)),
      m_describeDevice(std::move(describeDevice))
{
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    QString dir = m_g.programDir;
    if (dir.isEmpty())
        dir = QCoreApplication::applicationDirPath();
#ifndef Q_OS_WIN
    if (!m_describeDevice)
        m_describeDevice = [dir](int n) { return DefaultDeviceDescription(dir, n); };
#endif
    ui->lblDevice->setVisible(bool(m_describeDevice));
    ui->grpPorts->setVisible(false);

    // Which folder holds qrn.ini and the COMn links: beside the program or the user's own.
    auto* folder = new QLabel(QStringLiteral("Settings folder: ") + QDir::toNativeSeparators(SettingsFolder(dir)), this);
    folder->setObjectName(QStringLiteral("lblSettingsFolder"));
    folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ui->layoutMain->insertWidget(ui->layoutMain->count() - 1, folder);

    ShowSettings();

    connect(ui->comboPort, &QComboBox::currentIndexChanged, this, &frmSettings::comboPort_Change);
    connect(ui->cmdBind, &QPushButton::clicked, this, &frmSettings::OnBind);
    connect(ui->cmdRefresh, &QPushButton::clicked, this, &frmSettings::FillPortList);
    connect(ui->treePorts, &QTreeWidget::currentItemChanged, this, &frmSettings::comboPort_Change);
    connect(ui->cmdOK, &QPushButton::clicked, this, &frmSettings::OnOk);
    connect(ui->cmdCancel, &QPushButton::clicked, this, &frmSettings::OnCancel);
}

frmSettings::~frmSettings() = default;

QString frmSettings::DefaultDeviceDescription(const QString& programDir, int number)
{
    const QString link = BuildPath(SettingsFolder(programDir), QStringLiteral("COM%1").arg(number));
    const QFileInfo fi(link);
    if (fi.isSymLink()) {
        const QString target = fi.symLinkTarget();
        return fi.exists() ? target : target + QStringLiteral(" (missing)");
    }
    if (fi.exists())
        return link;
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
}

void frmSettings::ShowSettings()
{
    for (int n = 1; n <= 16; ++n)
        ui->comboPort->addItem(QStringLiteral("COM%1").arg(n));
    // A port outside the list (from a hand-edited qrn.ini) shows no selection.
    ui->comboPort->setCurrentIndex(m_g.comPort >= 1 && m_g.comPort <= 16 ? m_g.comPort - 1 : -1);

    int speedIndex = 0;
    for (size_t i = 0; i < std::size(kLineSpeeds); ++i) {
        if (kLineSpeeds[i] == m_g.speed)
            speedIndex = int(i);
        ui->comboSpeed->addItem(QString::number(kLineSpeeds[i]));
    }
    ui->comboSpeed->setCurrentIndex(speedIndex);

    comboPort_Change();
}

void frmSettings::SetPortList(PortLister listPorts, PortBinder bindPort)
{
    m_listPorts = std::move(listPorts);
    m_bindPort = std::move(bindPort);
    ui->grpPorts->setVisible(bool(m_listPorts));
    ui->cmdBind->setVisible(bool(m_bindPort));
    FillPortList();
}

void frmSettings::FillPortList()
{
    ui->treePorts->clear();
    if (!m_listPorts)
        return;
    QList<QStringList> rows = m_listPorts();
    if (rows.isEmpty())
        return;
    ui->treePorts->setHeaderLabels(rows.takeFirst());
    for (const QStringList& row : rows)
        ui->treePorts->addTopLevelItem(new QTreeWidgetItem(row));
    for (int c = 0; c < ui->treePorts->columnCount(); ++c)
        ui->treePorts->resizeColumnToContents(c);
    comboPort_Change();
}

void frmSettings::OnBind()
{
    const QTreeWidgetItem* item = ui->treePorts->currentItem();
    const int index = ui->comboPort->currentIndex();
    if (!item || index < 0)
        return;
    m_bindNumber = index + 1;
    m_bindDevice = item->text(0);
    comboPort_Change();
}

void frmSettings::comboPort_Change()
{
    const int index = ui->comboPort->currentIndex();
    ui->cmdBind->setEnabled(index >= 0 && ui->treePorts->currentItem());
    ui->cmdBind->setText(index < 0 ? QStringLiteral("Use for this port")
                                   : QStringLiteral("Use for COM%1").arg(index + 1));
    if (!m_describeDevice)
        return;
    if (index >= 0 && index + 1 == m_bindNumber)
        ui->lblDevice->setText(m_bindDevice + QStringLiteral(" (from OK on)"));
    else
        ui->lblDevice->setText(index < 0 ? QString() : m_describeDevice(index + 1));
}

void frmSettings::OnOk()
{
    if (m_bindNumber > 0 && m_bindPort) {
        QString why;
        if (!m_bindPort(m_bindNumber, m_bindDevice, why)) {
            ui->lblDevice->setVisible(true);
            ui->lblDevice->setText(QStringLiteral("Could not bind COM%1: %2").arg(m_bindNumber).arg(why));
            return;
        }
        m_bindNumber = 0;
    }
    m_g.comPort = ui->comboPort->currentIndex() + 1;
    m_g.speed = ValLong(ui->comboSpeed->currentText());
    if (m_publSaveSettings)
        m_publSaveSettings();
    accept();
}

void frmSettings::OnCancel()
{
    reject();
}
