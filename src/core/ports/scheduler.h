#pragma once

#include <chrono>
#include <functional>

namespace glowcast {

// A delayed call: runs the action once, on the main thread, after the delay. Never calls it
// from inside schedule().
class Scheduler {
public:
    virtual ~Scheduler() = default;
    virtual void schedule(std::chrono::milliseconds delay, std::function<void()> action) = 0;
};

} // namespace glowcast
