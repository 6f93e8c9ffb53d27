#pragma once
#include <QtGlobal>
#include <functional>
#include <memory>

// One-shot timer on a Clock: rings once, Start again re-arms it.
class Alarm {
public:
    virtual ~Alarm() = default;
    virtual void Start(qint64 ms) = 0;
    virtual void Stop() = 0;
    virtual bool Active() const = 0;
};

// Time as the protocol's rules see it: milliseconds from some start, and
// alarms. The programs run on the system's; tests run on one they move by
// hand, so a rule with a minute in it takes no time to test.
class Clock {
public:
    virtual ~Clock() = default;
    virtual qint64 NowMs() const = 0;
    // ring is called on the clock's thread, never from inside Start.
    virtual std::unique_ptr<Alarm> NewAlarm(std::function<void()> ring) = 0;
};

// The steady system clock with Qt timers on the calling thread.
Clock& SystemClock();
