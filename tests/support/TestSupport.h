#pragma once
#include "ManualClock.h"
#include "MemoryCommPort.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <functional>

// Delivers what the station queued for after the current rule (its questions)
// without moving the test clock.
inline void DeliverQueued()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

// Runs the event loop until cond holds or the deadline passes; true if it
// held. When nothing is on its way over the in-memory cable, the test clock
// jumps to its next alarm, as if the line had stayed quiet that long.
inline bool WaitFor(const std::function<bool()>& cond, int timeoutMs = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (MemoryCommPort::InFlight() == 0 && !cond())
            TestClock().RingNext();
    }
    return true;
}
