#pragma once

#include <chrono>

namespace glowcast {

using SteadyTime = std::chrono::steady_clock::time_point;

// The monotonic time now. Never blocks; later calls never read earlier than former ones.
class Clock {
public:
    virtual ~Clock() = default;
    [[nodiscard]] virtual SteadyTime now() const = 0;
};

} // namespace glowcast
