#pragma once
#include "Clock.h"
#include <algorithm>
#include <vector>

// A clock that stands still until a test moves it: RingNext jumps to the
// earliest alarm and rings it, so a rule with seconds in it runs at once.
class ManualClock : public Clock {
public:
    qint64 NowMs() const override { return m_now; }
    std::unique_ptr<Alarm> NewAlarm(std::function<void()> ring) override
    {
        return std::make_unique<ManualAlarm>(*this, std::move(ring));
    }

    // False when no alarm is set.
    bool RingNext()
    {
        const auto set = [](const ManualAlarm* a) { return a->due >= 0; };
        auto next = std::min_element(m_alarms.begin(), m_alarms.end(), [&](const ManualAlarm* a, const ManualAlarm* b) {
            if (set(a) != set(b))
                return set(a);
            return a->due != b->due ? a->due < b->due : a->order < b->order;
        });
        if (next == m_alarms.end() || !set(*next))
            return false;
        ManualAlarm* a = *next;
        m_now = std::max(m_now, a->due);
        a->due = -1;
        a->ring();
        return true;
    }

private:
    struct ManualAlarm : Alarm {
        ManualAlarm(ManualClock& c, std::function<void()> r) : clock(c), ring(std::move(r)) { clock.m_alarms.push_back(this); }
        ~ManualAlarm() override { std::erase(clock.m_alarms, this); }
        void Start(qint64 ms) override
        {
            due = clock.m_now + std::max<qint64>(ms, 0);
            order = ++clock.m_order;
        }
        void Stop() override { due = -1; }
        bool Active() const override { return due >= 0; }
        ManualClock& clock;
        std::function<void()> ring;
        qint64 due = -1;
        quint64 order = 0;
    };
    std::vector<ManualAlarm*> m_alarms;
    qint64 m_now = 0;
    quint64 m_order = 0;
};

// The clock of the in-memory stations; WaitFor moves it whenever nothing is on its way.
inline ManualClock& TestClock()
{
    static ManualClock clock;
    return clock;
}
