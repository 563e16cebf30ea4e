#pragma once

#include "adapters/process/stderr_log.h"

#include <span>
#include <string>
#include <string_view>

namespace glowcast::ctl {

// Each command gets the words after its own name and returns the process's exit status.
// 0 success, 1 the work failed, 2 a bad command line. Each reads them with a ProgramCommandLine
// named "glowcastctl COMMAND" that offers -v/--verbose.
using Arguments = std::span<const std::string>;

// The log lines on standard error with -v/--verbose, else nowhere: a command says what went wrong
// in its own words and exit status.
class CommandLog final : public Log {
public:
    explicit CommandLog(bool verbose) : m_verbose(verbose) {}
    void write(std::string_view line) override
    {
        if (m_verbose)
            m_log.write(line);
    }

private:
    StderrLog m_log{"glowcastctl"};
    bool m_verbose;
};

// In glowcastctl itself: Qt Core is all they need.
int runDecode(Arguments args);
int runColours(Arguments args);
// In glowcastctl-commands.so (commands_module.h), with Qt D-Bus and Qt Network.
int runDiscover(Arguments args);
int runPair(Arguments args);
int runLights(Arguments args);
int runSet(Arguments args);
int runPlayers(Arguments args);
// Through the running Glowcast's control interface, else on the preferences file.
int runLamps(Arguments args);
int runEnable(Arguments args);
int runDisable(Arguments args);
int runStatus(Arguments args);
int runBridge(Arguments args);
int runConfig(Arguments args);
int runPin(Arguments args);
int runUnpin(Arguments args);
int runSystems(Arguments args);
// Through the running Glowcast only.
int runPalette(Arguments args);

} // namespace glowcast::ctl
