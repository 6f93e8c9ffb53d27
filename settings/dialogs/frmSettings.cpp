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

    // Which folder holds qrn.ini and the COMn links: beside the program or the user's own.
    auto* folder = new QLabel(QStringLiteral("Settings folder: ") + QDir::toNativeSeparators(SettingsFolder(dir)), this);
    folder->setObjectName(QStringLiteral("lblSettingsFolder"));
    folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ui->layoutMain->insertWidget(ui->layoutMain->count() - 1, folder);

    Form_Load();

    connect(ui->comboPort, &QComboBox::currentIndexChanged, this, &frmSettings::comboPort_Change);
    connect(ui->cmdOK, &QPushButton::clicked, this, &frmSettings::cmdOK_Click);
    connect(ui->cmdCancel, &QPushButton::clicked, this, &frmSettings::cmdCancel_Click);
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

void frmSettings::Form_Load()
{
    for (int n = 1; n <= 16; ++n)
        ui->comboPort->addItem(QStringLiteral("COM%1").arg(n));
    // A port outside the list (from a hand-edited qrn.ini) shows no selection.
    ui->comboPort->setCurrentIndex(m_g.GlbComPort >= 1 && m_g.GlbComPort <= 16 ? m_g.GlbComPort - 1 : -1);

    int speedIndex = 0;
    for (size_t i = 1; i < m_g.GlbSpeeds.size(); ++i) {
        if (m_g.GlbSpeeds[i] == m_g.GlbSpeed)
            speedIndex = int(i) - 1;
        ui->comboSpeed->addItem(QString::number(m_g.GlbSpeeds[i]));
    }
    ui->comboSpeed->setCurrentIndex(speedIndex);

    comboPort_Change();
}

void frmSettings::comboPort_Change()
{
    if (!m_describeDevice)
        return;
    const int index = ui->comboPort->currentIndex();
    ui->lblDevice->setText(index < 0 ? QString() : m_describeDevice(index + 1));
}

void frmSettings::cmdOK_Click()
{
    m_g.GlbComPort = ui->comboPort->currentIndex() + 1;
    m_g.GlbSpeed = GlbValLong(ui->comboSpeed->currentText());
    if (m_publSaveSettings)
        m_publSaveSettings();
    accept();
}

void frmSettings::cmdCancel_Click()
{
    reject();
}
