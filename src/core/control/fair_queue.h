#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <unordered_map>

namespace glowcast {

// Work that waits by whom it is for, run one caller at a time in turn: each caller's own work in
// the order handed over, and a caller with one piece waiting is reached after at most one piece of
// every other caller, however much they hand over.
class FairQueue {
public:
    void push(const std::string& caller, std::function<void()> work);
    // Runs the oldest work of the caller whose turn it is; false when nothing waits. Work handed over
    // while it runs waits its turn like any other.
    bool runNext();

    [[nodiscard]] bool empty() const { return m_turns.empty(); }
    [[nodiscard]] std::size_t waiting(const std::string& caller) const;

private:
    std::unordered_map<std::string, std::deque<std::function<void()>>> m_waiting;
    std::deque<std::string> m_turns; // the callers with work waiting, the next one first
};

} // namespace glowcast
