#pragma once

#include "core/ports/timer.h"

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

class QtTimers final : public Timers {
public:
    [[nodiscard]] std::unique_ptr<Timer> create() override { return std::make_unique<QtTimer>(); }
};

} // namespace glowcast
