#pragma once

#include "core/ports/clock.h"

#include <cstdint>
#include <vector>

namespace glowcast {

// Where the covers of a cover source go: each call is one new cover, the bytes of an image file, and
// when it was heard (the delay counts from then). It may run the cover's whole handling before it returns.
class CoverSink {
public:
    virtual ~CoverSink() = default;
    virtual void coverChanged(std::vector<std::uint8_t> bytes, SteadyTime heard) = 0;
};

} // namespace glowcast
