#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <functional>

namespace glowcast::testing {

// Runs the event loop until done() holds or the time is up; false when it timed out. done() may ask
// another process (the simulator over HTTP), so it is asked about fifty times a second at most.
inline bool waitFor(const std::function<bool()>& done, int timeoutMs = 30'000)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    return true;
}

} // namespace glowcast::testing
