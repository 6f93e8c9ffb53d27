#include "StdioCommPort.h"
#include <QElapsedTimer>
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

StdioCommPort::StdioCommPort(int inFd, int outFd, QObject* parent) : QObject(parent), m_inFd(inFd), m_outFd(outFd) {}

StdioCommPort::~StdioCommPort()
{
    QString why;
    SetPortOpen(false, why);
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

bool StdioCommPort::SetInputMode(int mode, QString& why)
{
    if (mode == 1)
        return true;
    why = QStringLiteral("Invalid property value");
    return false;
}

bool StdioCommPort::SetPortOpen(bool open, QString& why)
{
    if (open == m_open)
        return true;
    if (!open) {
        ++m_generation;
        m_notifier.reset();
        m_open = false;
        m_failed = false;
        DropPendingEvents();
#ifdef Q_OS_UNIX
        RestoreTerminalsNow();
        g_saved[0].fd = g_saved[1].fd = -1;
#endif
        return true;
    }
    if (m_ended) {
        why = QStringLiteral("the standard input has ended");
        return false;
    }
#ifdef Q_OS_UNIX
    MakeRaw(0, m_inFd);
    MakeRaw(1, m_outFd);
#endif
    m_open = true;
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
        RaiseEvent(comEvReceive);
}

int StdioCommPort::InBufferCount() const
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

int StdioCommPort::OutBufferCount() const
{
#ifdef Q_OS_UNIX
    // Only a terminal has a driver queue that is the line's; a pipe's content is the reader's.
    int queued = 0;
    if (m_open && !m_failed && ::isatty(m_outFd) == 1 && ::ioctl(m_outFd, TIOCOUTQ, &queued) == 0)
        return queued;
#endif
    return 0;
}

void StdioCommPort::Output(const QByteArray& bytes)
{
    if (!m_open || m_failed || bytes.isEmpty())
        return;
#ifdef Q_OS_UNIX
    const char* next = bytes.constData();
    qsizetype left = bytes.size();
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    while (left > 0) {
        const qint64 remaining = m_writeStallMs - sinceProgress.elapsed();
        pollfd p{m_outFd, POLLOUT, 0};
        const int r = ::poll(&p, 1, int(qMax<qint64>(remaining, 0)));
        if (r < 0 && errno == EINTR)
            continue;
        if (r == 0) {
            const quint32 generation = m_generation;
            QMetaObject::invokeMethod(this, [this, generation] {
                if (generation == m_generation && m_open)
                    RaiseEvent(comEventTxFull);
            }, Qt::QueuedConnection);
            return;
        }
        if (r < 0 || !(p.revents & POLLOUT)) {
            Failed();
            return;
        }
        // Room for at least this much without blocking, on a pipe and a terminal alike.
        const ssize_t n = ::write(m_outFd, next, size_t(qMin<qsizetype>(left, 256)));
        if (n > 0) {
            next += n;
            left -= n;
            sinceProgress.restart();
        } else if (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            Failed();
            return;
        }
    }
#endif
}

void StdioCommPort::Failed()
{
    if (m_failed)
        return;
    m_failed = true;
    if (m_notifier)
        m_notifier->setEnabled(false);
    const quint32 generation = m_generation;
    QMetaObject::invokeMethod(this, [this, generation] {
        if (generation == m_generation && m_open)
            RaiseEvent(comEventUnknown);
    }, Qt::QueuedConnection);
}
