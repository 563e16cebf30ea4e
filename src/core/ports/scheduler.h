#pragma once

#include <chrono>
#include <functional>

namespace glowcast {

// One operation at a time: every event that starts work in the core (a delayed call, a cover
// delivered, a window activation, a media player's signal, a control call) enters through the
// program's one operation queue. Operations run on the main thread, one at a time, in the order they
// arrived, never one inside another: an adapter that waits spins a local event loop, and whatever
// arrives meanwhile waits its turn in the queue.
//
// A delayed call: runs the action once, through the operation queue, after the delay. Never calls it
// from inside schedule().
class Scheduler {
public:
    virtual ~Scheduler() = default;
    virtual void schedule(std::chrono::milliseconds delay, std::function<void()> action) = 0;
};

} // namespace glowcast
