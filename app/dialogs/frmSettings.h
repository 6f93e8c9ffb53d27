#pragma once
#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

struct Globals;
namespace Ui {
class frmSettings;
}

// Port number and line speed, and the serial ports the computer has. Changes
// (a port bound to a number included) take effect only on OK, which also
// saves them through the callback; Cancel and closing change nothing.
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

    // The serial ports to offer: the first row holds the column titles, each
    // further row one port with its device first.
    using PortLister = std::function<QList<QStringList>()>;
    // Makes port number n open device; false with a reason.
    using PortBinder = std::function<bool(int n, const QString& device, QString& why)>;
    // Shows the ports; with a binder the user can bind the chosen number to
    // one of them, done on OK. Without a lister the list stays hidden.
    void SetPortList(PortLister listPorts, PortBinder bindPort);

    // What port n opens on Unix: the target of the link "COMn" in the program
    // folder, that file itself if it is no link, else /dev/ttyS<n-1>.
    static QString DefaultDeviceDescription(const QString& programDir, int number);

private slots:
    void OnOk();
    void OnCancel();
    void comboPort_Change();
    void OnBind();
    void FillPortList();

private:
    void ShowSettings();

    std::unique_ptr<Ui::frmSettings> ui;
    Globals& m_g;
    std::function<void()> m_publSaveSettings;
    DeviceDescriber m_describeDevice;
    PortLister m_listPorts;
    PortBinder m_bindPort;
    int m_bindNumber = 0;  // a binding waiting for OK
    QString m_bindDevice;
};
