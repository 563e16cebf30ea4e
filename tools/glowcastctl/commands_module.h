#pragma once

// The C face of glowcastctl-commands.so: every glowcastctl command that talks to the bridge, the
// session bus or the running Glowcast. glowcastctl opens it only when one of those commands runs,
// so that the commands that only read files (colours, decode) never map Qt D-Bus nor Qt Network.

#include <cstddef>
#include <string>

extern "C" {

// Runs the named command with the words after its name and returns the process's exit status, as
// the commands in commands.h do. Both sides are built together from this tree, so the words may
// travel as std::string.
using GlowcastCtlRun = int(const char* command, const std::string* words, std::size_t count);
}

namespace glowcast::ctl {

inline constexpr const char* kCommandsModuleFile = "glowcastctl-commands.so";
inline constexpr const char* kCommandsModuleFunction = "glowcast_ctl_run";

} // namespace glowcast::ctl
