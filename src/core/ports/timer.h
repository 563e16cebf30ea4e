#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace glowcast {

// A one-shot timer that calls its action directly on the main thread, outside the operation queue:
// for the senders of lamp systems, which keep only their own state and must go on while a long
// operation (the first bridge's cover, a pairing) waits in a local event loop. Starting it again
// replaces the pending action; nothing calls the action from inside start().
class Timer {
public:
    virtual ~Timer() = default;
    virtual void start(std::chrono::milliseconds delay, std::function<void()> action) = 0;
    virtual void cancel() = 0;
};

// Makes the timers: one for each sender.
class Timers {
public:
    virtual ~Timers() = default;
    [[nodiscard]] virtual std::unique_ptr<Timer> create() = 0;
};

} // namespace glowcast
