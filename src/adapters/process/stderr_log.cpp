#include "adapters/process/stderr_log.h"

#include "core/text/log_text.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>

namespace glowcast {

StderrLog::StderrLog(std::string programName) : m_programName(std::move(programName))
{
}

void StderrLog::write(std::string_view line)
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    const std::size_t length = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    // Escaped and bounded: whatever a reply holds, it cannot forge a line or flood the log.
    const std::string text = logLine(line);
    // One fprintf per line keeps lines whole when several programs share the terminal.
    std::fprintf(stderr, "%.*s.%03lld %s[%ld] %.*s\n", static_cast<int>(length), stamp, static_cast<long long>(millis),
                 m_programName.c_str(), static_cast<long>(getpid()), static_cast<int>(text.size()), text.data());
}

} // namespace glowcast
