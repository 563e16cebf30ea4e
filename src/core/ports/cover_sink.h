#pragma once

#include <cstdint>
#include <vector>

namespace glowcast {

// Where the covers of a cover source go: each call is one new cover, the bytes of an image file.
// It may run the cover's whole handling before it returns.
class CoverSink {
public:
    virtual ~CoverSink() = default;
    virtual void coverChanged(std::vector<std::uint8_t> bytes) = 0;
};

} // namespace glowcast
