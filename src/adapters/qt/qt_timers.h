#pragma once

#include "core/ports/scheduler.h"
#include "core/ports/timer.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

namespace glowcast {

// A one-shot timer of the main thread's event loop. Its action runs from whichever loop turns, a local
// one that a blocking request spins included, and never through the operation queue.
class QtTimer final : public Timer {
public:
    QtTimer();
    void start(std::chrono::milliseconds delay, std::function<void()> action) override;
    void cancel() override;

private:
    QTimer m_timer;
    std::function<void()> m_action;
};

// A delayed call straight on the event loop, for work that does not start an operation of its own.
class QtTimerScheduler final : public Scheduler {
public:
    void schedule(std::chrono::milliseconds delay, std::function<void()> action) override
    {
        QTimer::singleShot(delay, &m_context, std::move(action));
    }

private:
    QObject m_context; // timers still pending when the scheduler goes are dropped with it
};

class QtTimers final : public Timers {
public:
    [[nodiscard]] std::unique_ptr<Timer> create() override { return std::make_unique<QtTimer>(); }
};

} // namespace glowcast
