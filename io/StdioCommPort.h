#pragma once
#include "CommPort.h"
#include "OutputQueue.h"
#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <memory>

// The line as two file descriptors another program hands over, usually
// standard input and output: a terminal program's file transfer command runs
// us on the serial line it holds, or an ssh pipe joins two machines.
//
// The same event rules as the serial port: events come from the event loop,
// never from inside a call, receive events are merged, and closing drops
// what was pending. The end of the input (end of file, hang-up, a read
// error) or a failed write gives one PortEvent::Unknown; after it the port stays
// "open" but silent until closed, and does not open again: the line is gone.
// A write that makes no progress for the stall time gives PortEvent::TransmitFull.
// Writes are queued and never wait for the reader; closing lets the queue
// finish first, for a bounded time.
//
// A terminal on either descriptor is put in raw mode while the port is open
// and restored when it closes. The number and the line settings are the
// other program's business and are accepted as they come. Opening does not
// flush: what the other side said before we started is the start of the run.
class StdioCommPort : public QObject, public CommPort {
    Q_OBJECT
public:
    StdioCommPort(int inFd, int outFd, QObject* parent = nullptr);
    ~StdioCommPort() override;

    bool SetCommPort(qint16, QString&) override { return true; }
    bool SetSettings(const QString&, QString&) override { return true; }

    bool SetPortOpen(bool open, QString& why) override;
    bool PortOpen() const override { return m_open; }

    int BytesWaiting() const override;
    void DiscardInput() override { m_in.clear(); }
    QByteArray Input() override;
    int BytesUnsent() const override;
    void Output(const QByteArray& bytes, int pauseMs = 0) override;
    void DiscardOutput(bool cutCurrent) override;
    bool Flushing() const override { return m_out.Lingering(); }

    QString DeviceDescription(qint16) const override { return QStringLiteral("standard input and output"); }
    void SetWriteStallTimeout(int ms) { m_out.SetStallMs(ms); }

    // Puts back every terminal this process made raw; only calls that are safe
    // in a signal handler, for a program killed before it could close the port.
    static void RestoreTerminalsNow();

private:
    void OnReadable();
    void ReadWaiting();
    void Failed();
    void FinishClose();

    int m_inFd;
    int m_outFd;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QByteArray m_in;
    OutputQueue m_out;
    bool m_open = false;
    bool m_failed = false;  // silent until closed
    bool m_ended = false;   // the line is gone for good
    quint32 m_generation = 0;
};
