#pragma once

#include "core/ports/log.h"

#include <string>
#include <vector>

namespace glowcast {

class RecordingLog final : public Log {
public:
    std::vector<std::string> lines;
    void write(std::string_view line) override { lines.emplace_back(line); }
};

}  // namespace glowcast
