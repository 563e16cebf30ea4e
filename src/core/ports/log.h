#pragma once

#include <string_view>

namespace glowcast {

// The system log. One call writes one line; the sink adds whatever stamp it wants (date, time,
// program, process). Never blocks for long and never fails to the caller.
class Log {
public:
    virtual ~Log() = default;
    virtual void write(std::string_view line) = 0;
};

// The log of what no one reads: working done only to be thrown away (a body read back for its
// numbers), benchmarks and fuzz targets.
class NullLog final : public Log {
public:
    void write(std::string_view /*line*/) override {}
};

} // namespace glowcast
