#include "StdioCommPort.h"
#include <QMetaObject>
#include <climits>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX
// The terminals made raw, kept where a signal handler can reach them.
struct SavedTerminal {
    int fd = -1;
    termios state{};
};
SavedTerminal g_saved[2];

void MakeRaw(int slot, int fd)
{
    g_saved[slot].fd = -1;
    termios t{};
    if (::isatty(fd) != 1 || ::tcgetattr(fd, &t) != 0)
        return;
    g_saved[slot].state = t;
    g_saved[slot].fd = fd;
    ::cfmakeraw(&t);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &t);
}

bool Readable(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL));
}
#endif

}  // namespace

StdioCommPort::StdioCommPort(int inFd, int outFd, QObject* parent) : QObject(parent), m_inFd(inFd), m_outFd(outFd)
{
}

StdioCommPort::~StdioCommPort()
{
    QString why;
    SetPortOpen(false, why);
    FinishClose();
}

void StdioCommPort::RestoreTerminalsNow()
{
#ifdef Q_OS_UNIX
    // The same terminal may be both; the first saved state is the original one.
    for (int slot = 1; slot >= 0; --slot)
        if (g_saved[slot].fd >= 0)
            ::tcsetattr(g_saved[slot].fd, TCSANOW, &g_saved[slot].state);
#endif
}

bool StdioCommPort::SetPortOpen(bool open, QString& why)
{
    if (open == m_open)
        return true;
    if (!open) {
        ++m_generation;
        m_notifier.reset();
        m_open = false;
        DropPendingEvents();
        if (!m_failed && !m_out.Idle()) {
            // What the program said last still goes out, within a bounded time.
            m_out.Linger(5000, [this] { FinishClose(); });
            return true;
        }
        FinishClose();
        return true;
    }
    if (m_ended) {
        FinishClose();
        why = QStringLiteral("the standard input has ended");
        return false;
    }
    // Open again while the last writes still go out: they stay queued.
    const bool resumed = m_out.Lingering();
    m_out.StopLingering();
    if (!resumed)
        FinishClose();
#ifdef Q_OS_UNIX
    if (!resumed) {
        MakeRaw(0, m_inFd);
        MakeRaw(1, m_outFd);
    }
#endif
    m_open = true;
    OutputQueue::Hooks hooks;
    hooks.driverQueued = [this] { return BytesUnsent() - int(m_out.Waiting()); };
    hooks.failed = [this] { Failed(); };
    hooks.stalled = [this] {
        const quint32 generation = m_generation;
        QMetaObject::invokeMethod(this, [this, generation] {
            if (generation == m_generation && m_open)
                RaiseEvent(PortEvent::TransmitFull);
        }, Qt::QueuedConnection);
    };
    // Room for at least this much once poll says writable, on a pipe and a terminal alike.
    if (!resumed)
        m_out.Attach(m_outFd, 256, 1, std::move(hooks));
    m_notifier = std::make_unique<QSocketNotifier>(qintptr(m_inFd), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { OnReadable(); });
    return true;
}

void StdioCommPort::ReadWaiting()
{
#ifdef Q_OS_UNIX
    // poll first: the descriptor may be blocking, and it is not ours to change.
    char buffer[65536];
    while (m_open && !m_failed && Readable(m_inFd)) {
        const ssize_t n = ::read(m_inFd, buffer, sizeof buffer);
        if (n > 0) {
            m_in.append(buffer, n);
            continue;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        m_ended = true;
        Failed();
        return;
    }
#endif
}

void StdioCommPort::OnReadable()
{
    const qsizetype before = m_in.size();
    ReadWaiting();
    if (m_in.size() > before && m_open)
        RaiseEvent(PortEvent::Receive);
}

int StdioCommPort::BytesWaiting() const
{
    qint64 count = m_in.size();
#ifdef Q_OS_UNIX
    int waiting = 0;
    if (m_open && !m_failed && ::ioctl(m_inFd, FIONREAD, &waiting) == 0)
        count += waiting;
#endif
    return int(qMin<qint64>(count, INT_MAX));
}

QByteArray StdioCommPort::Input()
{
    ReadWaiting();
    QByteArray bytes;
    bytes.swap(m_in);
    return bytes;
}

int StdioCommPort::BytesUnsent() const
{
    if ((!m_open && !m_out.Lingering()) || m_failed)
        return 0;
    qint64 count = m_out.Waiting();
#ifdef Q_OS_UNIX
    // Only a terminal has a driver queue that is the line's; a pipe's content is the reader's.
    int queued = 0;
    if (::isatty(m_outFd) == 1 && ::ioctl(m_outFd, TIOCOUTQ, &queued) == 0)
        count += queued;
#endif
    return int(qMin<qint64>(count, INT_MAX));
}

void StdioCommPort::Output(const QByteArray& bytes, int pauseMs)
{
    if (!m_open || m_failed || bytes.isEmpty())
        return;
    m_out.Add(bytes, pauseMs);
}

void StdioCommPort::DiscardOutput(bool cutCurrent)
{
    m_out.Discard(cutCurrent);
#ifdef Q_OS_UNIX
    if (cutCurrent && (m_open || m_out.Lingering()) && ::isatty(m_outFd) == 1)
        ::tcflush(m_outFd, TCOFLUSH);
#endif
}

void StdioCommPort::FinishClose()
{
    m_out.Detach();
    m_failed = false;
#ifdef Q_OS_UNIX
    RestoreTerminalsNow();
    g_saved[0].fd = g_saved[1].fd = -1;
#endif
}

void StdioCommPort::Failed()
{
    if (m_failed)
        return;
    m_failed = true;
    m_out.Discard(true);
    if (m_notifier)
        m_notifier->setEnabled(false);
    const quint32 generation = m_generation;
    QMetaObject::invokeMethod(this, [this, generation] {
        if (generation == m_generation && m_open)
            RaiseEvent(PortEvent::Unknown);
    }, Qt::QueuedConnection);
}
