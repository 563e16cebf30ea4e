#pragma once

#include <cstddef>
#include <deque>
#include <functional>

namespace glowcast {

// Runs the program's operations one at a time. An operation handed over while another runs (a
// delayed call, a window activation or a cover notification arriving while a set-up, a pairing
// or a cover change waits in a local event loop) is kept and run when the current one returns,
// in the order handed over. No operation ever runs inside another.
class OperationQueue {
public:
    void run(std::function<void()> operation);
    // Drops what is waiting and refuses everything from now on: the program is ending.
    void close();

    [[nodiscard]] bool busy() const { return m_running; }
    [[nodiscard]] std::size_t waiting() const { return m_waiting.size(); }
    [[nodiscard]] bool closed() const { return m_closed; }

private:
    std::deque<std::function<void()>> m_waiting;
    bool m_running = false;
    bool m_closed = false;
};

} // namespace glowcast
