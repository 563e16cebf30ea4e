#pragma once

#include <chrono>

namespace glowcast {

// Waits for the given time before returning. Real implementations keep the window painting.
class Sleeper {
public:
    virtual ~Sleeper() = default;
    virtual void sleep(std::chrono::milliseconds duration) = 0;
};

} // namespace glowcast
