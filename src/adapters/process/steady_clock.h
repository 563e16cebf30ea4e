#pragma once

#include "core/ports/clock.h"

namespace glowcast {

// The system's monotonic clock.
class SteadyClock final : public Clock {
public:
    [[nodiscard]] SteadyTime now() const override { return std::chrono::steady_clock::now(); }
};

} // namespace glowcast
