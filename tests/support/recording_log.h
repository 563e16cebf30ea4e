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

namespace testing {

// Whether any line holds the text: for a text that must appear nowhere, such as a secret.
inline bool logHas(const RecordingLog& log, std::string_view part)
{
    return std::ranges::any_of(log.lines,
                               [&](const std::string& line) { return line.find(part) != std::string::npos; });
}

// Of these whole lines, those written in this order; all of them when each was. Other lines, such as the
// codec's working for every reply it reads, may come between them.
inline std::vector<std::string> inOrder(const RecordingLog& log, const std::vector<std::string>& lines)
{
    std::vector<std::string> found;
    for (const std::string& line : log.lines)
        if (found.size() < lines.size() && line == lines[found.size()])
            found.push_back(line);
    return found;
}

} // namespace testing
} // namespace glowcast
