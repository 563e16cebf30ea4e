#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <functional>

namespace glowcast::testing {

// Runs the event loop until done() holds or the time is up; false when it timed out. done() is asked
// again after each batch of events, so a condition that events change is seen at once; the timer
// only makes sure the deadline is seen when no event comes.
inline bool waitFor(const std::function<bool()>& done, int timeoutMs = 30'000)
{
    const QDeadlineTimer deadline(timeoutMs);
    QTimer wake;
    wake.start(50);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// The same for a condition that only another process changes (the simulator, asked over HTTP): done()
// is asked fifty times a second at most, the event loop running in between.
inline bool pollFor(const std::function<bool()>& done, int timeoutMs = 30'000)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop pause;
        QTimer::singleShot(20, &pause, &QEventLoop::quit);
        pause.exec();
    }
    return true;
}

} // namespace glowcast::testing
