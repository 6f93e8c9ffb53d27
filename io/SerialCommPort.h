#pragma once
#include "CommPort.h"
#include "OutputQueue.h"
#include "SerialPortList.h"
#include <QElapsedTimer>
#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>

// The real serial port behind CommPort.
//
// Port number n opens "COMn" on Windows. On Unix it opens the file COMn in the
// program's folder if there is one (usually a link to /dev/ttyUSB0 or a pty),
// else /dev/ttyS<n-1>.
//
// Everything runs on the owning thread and nothing waits for the line:
// Output() queues, and the queue hands the bytes to the driver as it takes
// them. BytesUnsent() is that queue plus the driver's own. Closing the port
// lets the queue finish first (for a bounded time), with the device kept
// locked and its input ignored meanwhile.
//
// On Linux the driver is asked for its low-latency mode on open (USB adapters
// otherwise hold received bytes up to 16 ms); OpenNote() says how that went.
//
// Line choices: no flow control; DTR and RTS are left as the driver sets them
// on open (asserted on a real UART) and are never touched afterwards. The
// device is opened exclusively: Qt's lock file, TIOCEXCL (keeps out other
// users, not root) and an flock() on the device that any cooperating opener,
// in this process or another, runs into.
//
// Reading: on Unix this class alone reads the device, straight from the
// driver, and its own notifier tells when bytes wait; Qt's notifier is kept
// from reading, since a read that finds the bytes already taken reports the
// device as gone.
//
// Events: bytes arriving give PortEvent::Receive. A device that vanishes or hangs up
// gives one PortEvent::Unknown; after it the port stays "open" but is silent and
// inert until the program closes it. Where the driver keeps interrupt
// counters (TIOCGICOUNT), rising frame/overrun/parity/break counters give the
// matching error events and modem-line changes give PortEvent::CtsChanged/DSR/CD/Ring;
// otherwise modem lines are polled with TIOCMGET if the driver has it. A write
// that makes no progress for the stall time is abandoned with PortEvent::TransmitFull.
class SerialCommPort : public QObject, public CommPort {
    Q_OBJECT
public:
    struct LineSettings {
        qint32 baudRate = 9600;
        QSerialPort::Parity parity = QSerialPort::NoParity;
        QSerialPort::DataBits dataBits = QSerialPort::Data8;
        QSerialPort::StopBits stopBits = QSerialPort::OneStop;
        bool operator==(const LineSettings&) const = default;
    };

    // programFolder is where COMn links are looked for.
    explicit SerialCommPort(QString programFolder, QObject* parent = nullptr);
    ~SerialCommPort() override;

    bool SetCommPort(qint16 number, QString& why) override;
    bool SetSettings(const QString& settings, QString& why) override;
    bool SetReadBufferSize(int size, QString& why) override;

    bool SetPortOpen(bool open, QString& why) override;
    bool PortOpen() const override { return m_open; }

    int BytesWaiting() const override;
    void DiscardInput() override;
    QByteArray Input() override;
    int BytesUnsent() const override;
    void Output(const QByteArray& bytes, int pauseMs = 0) override;
    void DiscardOutput(bool cutCurrent) override;
    void DiscardInputFor(int ms) override;
    bool Flushing() const override { return m_out.Lingering(); }

    // The device the number opens, and on Unix where a COMn link points.
    QString DeviceDescription(qint16 number) const override;
    QString DevicePath(qint16 number) const;
    // Unix: the link COMn in the folder where port numbers are looked up,
    // pointed at device (an existing link is replaced; a plain file is not).
    bool BindDevice(qint16 number, const QString& device, QString& why) override;
    QString OpenNote() const override { return m_openNote; }
    // The device opened last by its own name, or the same adapter (its serial
    // number) under another one; that one is kept until the number is set again.
    bool Reopen(QString& why) override;
    // "/dev/ttyUSB0 (serial A10K3Z)": the device opened last.
    QString Identity() const override;
    // Where Reopen looks for the adapter; tests give their own.
    std::function<QList<SerialPortEntry>()> listPorts = ListSerialPorts;
    // Opens this device (a path, or a link to one) whatever the number says;
    // empty goes back to the number's device. Read again at every open.
    void SetDevicePath(QString path) { m_devicePath = std::move(path); }

    // "speed,parity,data bits,stop bits", e.g. "115200,N,8,1"; nullopt with a
    // readable description for anything else.
    static std::optional<LineSettings> ParseSettings(const QString& text, QString& why);

    qint16 CommPortNumber() const { return m_number; }
    const LineSettings& Settings() const { return m_settings; }

    // How long a write waits for a line that takes no more bytes before it
    // gives up on the rest and reports PortEvent::TransmitFull. Unset: 5 s, or the
    // time the line needs for 8 KiB when that is longer.
    void SetWriteStallTimeout(int ms) { m_writeStallMs = ms; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool Open(QString& why);
    void TakeOverReading();
    void OnReadable();
    void ResumeReadNotice();
    void Close();
    void FinishClose();
    bool ResumeFlushing(QString& why);
    void AttachOutput(int fd);
    bool ApplySettings(QString& why);
    QString OpenFailure(const QString& openPath) const;
    QString SerialNumberOf(const QString& device) const;
    QString LinkPath(qint16 number) const;
    void RequestLowLatency(int fd);
    void RestoreLatency(int fd);
    void OnReadyRead();
    void OnError(QSerialPort::SerialPortError error);
    void OnLineTimer();
    bool DeviceGone() const;
    void DeviceFailed();
    void PostEvent(PortEvent event);
    void DrainDriver(QByteArray& into);

    QString m_folder;
    QString m_devicePath;
    QString m_openedFrom;  // the path the open device was opened by
    QString m_serial;      // the USB adapter's serial number of that device; empty when none
    QString m_movedTo;     // the adapter came back here: opened instead of the number's device
    QSerialPort m_port;  // a child, so its notifiers are found under this object
    QTimer m_lineTimer;
    QSocketNotifier* m_readNotice = nullptr;     // ours, Unix only
    QPointer<QSocketNotifier> m_qtReadNotifier;  // Qt's, kept quiet
    qint16 m_number = 0;
    LineSettings m_settings;
    int m_readBufferSize = 1024;
    OutputQueue m_out;
    std::optional<int> m_writeStallMs;
    QElapsedTimer m_clock;
    qint64 m_discardUntil = -1;  // input arriving before this clock ms is dropped

    bool m_open = false;         // as the program sees it
    bool m_failed = false;       // device gone: silent until closed
    bool m_configuring = false;  // errors raised by our own calls are not line events
    bool m_receivePosted = false;
    quint32 m_generation = 0;    // bumps on close; stale queued events check it
    QByteArray m_salvaged;       // bytes read before a failed device was shut
    QString m_openNote;
    bool m_lowLatencySet = false;  // by us, so undone on close

    // Line-state polling, Unix only.
    bool m_haveCounters = false;
    bool m_haveModemBits = false;
    int m_counters[9] = {};
    int m_modemBits = 0;
};
