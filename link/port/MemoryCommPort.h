#pragma once
#include "CommPort.h"
#include <QObject>
#include <functional>

// One end of an in-memory cable for fast layer tests. What one end writes
// reaches the other end as receive events through the event loop, after the
// optional line filter has had its way with the bytes (drop, corrupt, insert).
class MemoryCommPort : public QObject, public CommPort {
    Q_OBJECT
public:
    static void Connect(MemoryCommPort& a, MemoryCommPort& b);
    // Writes posted to a peer and not yet delivered (or dropped with it), all ends together.
    static int InFlight();

    bool SetCommPort(qint16 number, QString& why) override;
    bool SetSettings(const QString& settings, QString& why) override;
    bool SetReadBufferSize(int bytes, QString& why) override;
    bool SetPortOpen(bool open, QString& why) override;
    bool PortOpen() const override { return m_open; }
    int BytesWaiting() const override { return int(m_in.size()); }
    void DiscardInput() override { m_in.clear(); }
    QByteArray Input() override;
    int BytesUnsent() const override { return 0; }
    void Output(const QByteArray& bytes, int pauseMs = 0) override;
    void DiscardOutput(bool) override {}

    // Test hooks.
    std::function<QByteArray(const QByteArray&)> lineFilter;  // applied to what this end writes
    QString failOpenWith;                                     // non-empty: opening fails with it
    QString failSettingsWith;                                 // non-empty: SetSettings fails with it
    QString failBufferWith;                                   // non-empty: SetReadBufferSize fails with it
    QByteArray written;                                       // everything this end wrote
    int writes = 0;
    int lastPause = 0;                                        // the pause the last write asked for
    void InjectEvent(PortEvent event) { RaiseEvent(event); }
    void InjectBytes(const QByteArray& bytes);                // as if they came from the line
    bool hold = false;     // arriving bytes wait in held instead of being delivered
    QByteArray held;
    qint16 commPort = 0;
    QString settings;

private:
    void Deliver(const QByteArray& bytes);
    MemoryCommPort* m_peer = nullptr;
    QByteArray m_in;
    bool m_open = false;
};
