#pragma once
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <deque>
#include <functional>

class QSocketNotifier;

// Writes queued to a descriptor as it takes them, so no caller ever waits for
// the line. Each write keeps the order and pacing of a blocking writer: it
// goes out no sooner than its pause after it was queued, and only once the
// previous write has left the driver (read from the driver's queue by a timer,
// since the platform gives no signal for it).
class OutputQueue : public QObject {
    Q_OBJECT
public:
    explicit OutputQueue(QObject* parent = nullptr);
    ~OutputQueue() override;

    struct Hooks {
        std::function<int()> driverQueued;  // bytes the driver still holds
        std::function<void()> failed;       // the descriptor refused a write
        std::function<void()> stalled;      // no progress for the stall time: the write was given up
        std::function<void()> idle;         // everything queued is in the driver
    };

    // fd must be non-blocking or at least report POLLOUT only with room;
    // chunk bounds each write (0: no bound). msPerKiB estimates how long the
    // driver takes to drain, so its queue is read about when it should be empty.
    void Attach(int fd, qsizetype chunk, qint64 msPerKiB, Hooks hooks);
    // Forgets the descriptor and everything queued.
    void Detach();
    void SetStallMs(int ms) { m_stallMs = ms; }

    void Add(const QByteArray& bytes, int pauseMs);
    // Drops every write not yet begun; with cutCurrent the rest of the one
    // being written too (the caller flushes the driver).
    void Discard(bool cutCurrent);

    // The owner closed: what is queued still goes out, for at most ms. Then,
    // or once it is all out, stalled or refused, done is called once (and
    // none of the hooks). Idle already: done at once.
    void Linger(qint64 ms, std::function<void()> done);
    bool Lingering() const { return bool(m_lingerDone); }
    // The owner opened again: the writes stay queued, done is not called.
    void StopLingering();

    // Bytes queued here and not yet handed to the driver.
    qint64 Waiting() const { return m_waiting; }
    bool Idle() const { return m_entries.empty(); }

private:
    struct Entry {
        QByteArray bytes;
        qsizetype done = 0;
        qint64 due = 0;  // clock ms before which it may not start
    };
    enum class Written { All, Some, Refused };
    void Pump();
    Written WriteSome(Entry& e);
    void WaitWritable();
    void Wake(qint64 inMs);
    void EndLinger();

    int m_fd = -1;
    qsizetype m_chunk = 0;
    qint64 m_msPerKiB = 1;
    int m_stallMs = 5000;
    Hooks m_hooks;
    std::deque<Entry> m_entries;
    qint64 m_waiting = 0;
    QElapsedTimer m_clock;
    qint64 m_progressAt = 0;    // last time the driver took bytes
    qint64 m_drainSince = -1;   // when waiting for the previous write began
    QTimer m_timer;
    QTimer m_lingerTimer;
    std::function<void()> m_lingerDone;
    QSocketNotifier* m_writable = nullptr;
    bool m_pumping = false;
};
