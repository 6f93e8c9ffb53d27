#include "OutputQueue.h"
#include <QSocketNotifier>
#include <climits>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <poll.h>
#include <unistd.h>
#endif

namespace {
// A driver that never seems to drain (a line held by flow control, a driver
// that miscounts) must not stop the program: write anyway after this long.
constexpr qint64 kMostDrainWaitMs = 10000;
}  // namespace

OutputQueue::OutputQueue(QObject* parent) : QObject(parent)
{
    m_clock.start();
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &OutputQueue::Pump);
    m_lingerTimer.setSingleShot(true);
    connect(&m_lingerTimer, &QTimer::timeout, this, &OutputQueue::EndLinger);
}

OutputQueue::~OutputQueue() { Detach(); }

void OutputQueue::Attach(int fd, qsizetype chunk, qint64 msPerKiB, Hooks hooks)
{
    Detach();
    m_fd = fd;
    m_chunk = chunk;
    m_msPerKiB = qMax<qint64>(msPerKiB, 1);
    m_hooks = std::move(hooks);
#ifdef Q_OS_UNIX
    m_writable = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    m_writable->setEnabled(false);
    connect(m_writable, &QSocketNotifier::activated, this, [this] {
        m_writable->setEnabled(false);
        Pump();
    });
#endif
}

void OutputQueue::Detach()
{
    StopLingering();
    m_timer.stop();
    if (m_writable) {
        // Detach may run inside the notifier's own signal.
        m_writable->setEnabled(false);
        m_writable->deleteLater();
        m_writable = nullptr;
    }
    m_entries.clear();
    m_waiting = 0;
    m_drainSince = -1;
    m_fd = -1;
    m_hooks = {};
}

void OutputQueue::Add(const QByteArray& bytes, int pauseMs)
{
    if (m_fd < 0 || bytes.isEmpty())
        return;
    m_entries.push_back(Entry{bytes, 0, m_clock.elapsed() + qMax(pauseMs, 0)});
    m_waiting += bytes.size();
    Pump();
}

void OutputQueue::Discard(bool cutCurrent)
{
    const bool keepFront = !cutCurrent && !m_entries.empty() && m_entries.front().done > 0;
    while (m_entries.size() > (keepFront ? 1u : 0u)) {
        m_waiting -= m_entries.back().bytes.size() - m_entries.back().done;
        m_entries.pop_back();
    }
    if (m_entries.empty()) {
        m_timer.stop();
        if (m_writable)
            m_writable->setEnabled(false);
        m_drainSince = -1;
    }
}

void OutputQueue::Linger(qint64 ms, std::function<void()> done)
{
    m_lingerDone = std::move(done);
    if (Idle() || m_fd < 0) {
        EndLinger();
        return;
    }
    m_lingerTimer.start(int(qBound(qint64(0), ms, qint64(INT_MAX))));
}

void OutputQueue::StopLingering()
{
    m_lingerTimer.stop();
    m_lingerDone = nullptr;
}

void OutputQueue::EndLinger()
{
    m_lingerTimer.stop();
    // Moved out first: done usually detaches this queue.
    const std::function<void()> done = std::move(m_lingerDone);
    m_lingerDone = nullptr;
    if (done)
        done();
}

void OutputQueue::Wake(qint64 inMs)
{
    m_timer.start(int(qBound(qint64(1), inMs, qint64(60000))));
}

void OutputQueue::WaitWritable()
{
    if (m_writable)
        m_writable->setEnabled(true);
    // The notifier says when there is room, but a pty wakes its writer only
    // once its reader has nearly emptied it: look again now and then, and
    // give up at the stall time.
    const qint64 retryMs = qBound(qint64(10), m_msPerKiB / 8, qint64(100));
    Wake(qMin(retryMs, m_stallMs - (m_clock.elapsed() - m_progressAt)));
}

void OutputQueue::Pump()
{
    if (m_pumping || m_fd < 0)
        return;
    m_pumping = true;
    bool failed = false;
    bool stalled = false;
    while (!m_entries.empty()) {
        Entry& e = m_entries.front();
        const qint64 now = m_clock.elapsed();
        if (e.done == 0) {
            if (now < e.due) {
                Wake(e.due - now);
                break;
            }
            const int queued = m_hooks.driverQueued ? m_hooks.driverQueued() : 0;
            if (queued > 0) {
                if (m_drainSince < 0)
                    m_drainSince = now;
                if (now - m_drainSince < kMostDrainWaitMs) {
                    Wake(queued * m_msPerKiB / 1024);
                    break;
                }
            }
            m_drainSince = -1;
            m_progressAt = now;
        }
        const Written w = WriteSome(e);
        if (w == Written::All) {
            m_entries.pop_front();
            continue;
        }
        if (w == Written::Refused) {
            failed = true;
            break;
        }
        if (m_clock.elapsed() - m_progressAt < m_stallMs)
            break;  // waiting for room
        // Nothing taken for the stall time: give this write up, go on with the next.
        m_waiting -= e.bytes.size() - e.done;
        m_entries.pop_front();
        stalled = true;
    }
    const bool idle = m_entries.empty();
    if (idle) {
        m_timer.stop();
        if (m_writable)
            m_writable->setEnabled(false);
    }
    m_pumping = false;
    // Hooks last: they may close the port and with it this queue.
    if (Lingering()) {
        if (failed || stalled || idle)
            EndLinger();
        return;
    }
    if (failed) {
        if (m_hooks.failed)
            m_hooks.failed();
        return;
    }
    if (stalled && m_hooks.stalled)
        m_hooks.stalled();
    if (idle && m_fd >= 0 && m_hooks.idle)
        m_hooks.idle();
}

// A refusing descriptor forgets everything queued.
OutputQueue::Written OutputQueue::WriteSome(Entry& e)
{
#ifdef Q_OS_UNIX
    for (;;) {
        const qsizetype left = e.bytes.size() - e.done;
        if (left <= 0)
            return Written::All;
        if (m_chunk > 0) {
            // Writes of at most chunk bytes never block once poll sees room,
            // even on a descriptor that is not non-blocking (a shared terminal).
            pollfd p{m_fd, POLLOUT, 0};
            const int r = ::poll(&p, 1, 0);
            if (r < 0 && errno == EINTR)
                continue;
            if (r == 0) {
                WaitWritable();
                return Written::Some;
            }
            if (r < 0 || !(p.revents & POLLOUT))
                break;
        }
        const qsizetype size = m_chunk > 0 ? qMin(left, m_chunk) : left;
        const ssize_t n = ::write(m_fd, e.bytes.constData() + e.done, size_t(size));
        if (n > 0) {
            e.done += n;
            m_waiting -= n;
            m_progressAt = m_clock.elapsed();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            WaitWritable();
            return Written::Some;
        }
        break;
    }
#endif
    m_entries.clear();
    m_waiting = 0;
    m_timer.stop();
    return Written::Refused;
}
