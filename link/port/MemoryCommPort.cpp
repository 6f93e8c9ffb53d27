#include "MemoryCommPort.h"
#include <memory>
#include <QMetaObject>

void MemoryCommPort::Connect(MemoryCommPort& a, MemoryCommPort& b)
{
    a.m_peer = &b;
    b.m_peer = &a;
}

bool MemoryCommPort::SetCommPort(qint16 number, QString& why)
{
    if (number < 1) {
        why = QStringLiteral("Invalid port number");
        return false;
    }
    commPort = number;
    return true;
}

bool MemoryCommPort::SetSettings(const QString& text, QString& why)
{
    if (!failSettingsWith.isEmpty()) {
        why = failSettingsWith;
        return false;
    }
    settings = text;
    return true;
}

bool MemoryCommPort::SetReadBufferSize(int bytes, QString& why)
{
    if (!failBufferWith.isEmpty() || bytes < 1) {
        why = failBufferWith;
        return false;
    }
    return true;
}

bool MemoryCommPort::SetPortOpen(bool open, QString& why)
{
    if (open && !failOpenWith.isEmpty()) {
        why = failOpenWith;
        return false;
    }
    m_open = open;
    if (!open) {
        m_in.clear();
        DropPendingEvents();
    }
    return true;
}

QByteArray MemoryCommPort::Input()
{
    QByteArray out;
    out.swap(m_in);
    return out;
}

// No line time here: the pause only orders writes, and these are in order already.
namespace {
int g_inFlight = 0;
// Counts a posted write until its call is run or dropped.
std::shared_ptr<void> Flight()
{
    ++g_inFlight;
    return std::shared_ptr<void>(nullptr, [](void*) { --g_inFlight; });
}
}  // namespace

int MemoryCommPort::InFlight() { return g_inFlight; }

void MemoryCommPort::Output(const QByteArray& bytes, int pauseMs)
{
    lastPause = pauseMs;
    written += bytes;
    ++writes;
    if (!m_peer)
        return;
    const QByteArray onLine = lineFilter ? lineFilter(bytes) : bytes;
    MemoryCommPort* peer = m_peer;
    QMetaObject::invokeMethod(peer, [peer, onLine, t = Flight()] { peer->Deliver(onLine); }, Qt::QueuedConnection);
}

void MemoryCommPort::InjectBytes(const QByteArray& bytes)
{
    QMetaObject::invokeMethod(this, [this, bytes, t = Flight()] { Deliver(bytes); }, Qt::QueuedConnection);
}

void MemoryCommPort::Deliver(const QByteArray& bytes)
{
    if (!m_open || bytes.isEmpty())
        return;
    if (hold) {
        held += bytes;
        return;
    }
    m_in += bytes;
    RaiseEvent(PortEvent::Receive);
}
