#pragma once

#include "core/ports/log.h"

#include <string>

namespace glowcast {

// Writes each line to standard error as "2026-12-06 09:41:07.123 glowcast[4242] line", the way
// the desktop's log shows lines; under systemd the journal takes them from there. Each line is
// written in its log form (logLine): control characters escaped, at most a few KiB.
class StderrLog final : public Log {
public:
    explicit StderrLog(std::string programName);
    void write(std::string_view line) override;

private:
    std::string m_programName;
};

} // namespace glowcast
