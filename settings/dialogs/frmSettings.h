#pragma once
#include <QDialog>
#include <QString>
#include <functional>
#include <memory>

struct Globals;
namespace Ui {
class frmSettings;
}

// Port number and line speed. Changes reach the settings only on OK, which
// also saves them through the callback; Cancel and closing change nothing.
class frmSettings : public QDialog {
    Q_OBJECT

public:
    // Text shown beside the port list for port number n (1 = COM1).
    using DeviceDescriber = std::function<QString(int)>;

    // Without a describer the default one is used (nothing is shown on Windows,
    // where COMn names the device itself).
    frmSettings(Globals& g, std::function<void()> publSaveSettings, QWidget* parent = nullptr,
                DeviceDescriber describeDevice = {});
    ~frmSettings() override;

    // What port n opens on Unix: the target of the link "COMn" in the program
    // folder, that file itself if it is no link, else /dev/ttyS<n-1>.
    static QString DefaultDeviceDescription(const QString& programDir, int number);

private slots:
    void cmdOK_Click();
    void cmdCancel_Click();
    void comboPort_Change();

private:
    void Form_Load();

    std::unique_ptr<Ui::frmSettings> ui;
    Globals& m_g;
    std::function<void()> m_publSaveSettings;
    DeviceDescriber m_describeDevice;
};
