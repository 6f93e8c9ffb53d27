#pragma once
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <functional>

// Runs the event loop until cond holds or the deadline passes; true if it held.
inline bool WaitFor(const std::function<bool()>& cond, int timeoutMs = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}
