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

} // namespace glowcast
