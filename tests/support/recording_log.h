#pragma once

#include "core/ports/log.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace glowcast {

class RecordingLog final : public Log {
public:
    std::vector<std::string> lines;
    void write(std::string_view line) override { lines.emplace_back(line); }
    // How many lines are exactly this one.
    [[nodiscard]] long count(std::string_view line) const { return std::ranges::count(lines, line); }
};

// For benchmarks and fuzz targets, where what is logged does not matter.
class NullLog final : public Log {
public:
    void write(std::string_view /*line*/) override {}
};

namespace testing {

// Whether a line holds the text.
inline bool logHas(const RecordingLog& log, std::string_view part)
{
    return std::ranges::any_of(log.lines,
                               [&](const std::string& line) { return line.find(part) != std::string::npos; });
}

// The lines without the codec's working, which it writes for every reply it reads.
inline std::vector<std::string> withoutCodecWorking(const RecordingLog& log)
{
    std::vector<std::string> own;
    for (const std::string& line : log.lines)
        if (!line.starts_with("parsing: ") && !line.starts_with("left part '") && !line.starts_with("returnValue:"))
            own.push_back(line);
    return own;
}

} // namespace testing
} // namespace glowcast
