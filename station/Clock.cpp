#include "Clock.h"
#include <QElapsedTimer>
#include <QTimer>
#include <climits>

namespace {

class TimerAlarm : public Alarm {
public:
    explicit TimerAlarm(std::function<void()> ring)
    {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, [r = std::move(ring)] { r(); });
    }
    void Start(qint64 ms) override { m_timer.start(int(qBound(qint64(0), ms, qint64(INT_MAX)))); }
    void Stop() override { m_timer.stop(); }
    bool Active() const override { return m_timer.isActive(); }

private:
    QTimer m_timer;
};

class SteadyClock : public Clock {
public:
    SteadyClock() { m_started.start(); }
    qint64 NowMs() const override { return m_started.elapsed(); }
    std::unique_ptr<Alarm> NewAlarm(std::function<void()> ring) override
    {
        return std::make_unique<TimerAlarm>(std::move(ring));
    }

private:
    QElapsedTimer m_started;
};

}  // namespace

Clock& SystemClock()
{
    static SteadyClock clock;
    return clock;
}
