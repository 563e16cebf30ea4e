#pragma once

#include <span>
#include <string>

namespace glowcast::ctl {

// Each command gets the words after its own name and returns the process's exit status.
// 0 success, 1 the work failed, 2 a bad command line.
using Arguments = std::span<const std::string>;

int runDecode(Arguments args);
int runColours(Arguments args);
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

} // namespace glowcast::ctl
