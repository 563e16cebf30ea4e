// glowcastctl-commands: the commands that need Qt D-Bus or Qt Network, opened by glowcastctl only
// when one of them runs.
#include "glowcastctl/commands_module.h"
#include "glowcastctl/commands.h"

#include <cstdio>
#include <string_view>

namespace {

struct ModuleCommand {
    std::string_view name;
    int (*run)(glowcast::ctl::Arguments);
};

constexpr ModuleCommand kModuleCommands[] = {
    {"discover", glowcast::ctl::runDiscover}, {"pair", glowcast::ctl::runPair},
    {"lights", glowcast::ctl::runLights},     {"set", glowcast::ctl::runSet},
    {"players", glowcast::ctl::runPlayers},   {"lamps", glowcast::ctl::runLamps},
    {"enable", glowcast::ctl::runEnable},     {"disable", glowcast::ctl::runDisable},
    {"status", glowcast::ctl::runStatus},     {"bridge", glowcast::ctl::runBridge},
    {"config", glowcast::ctl::runConfig},     {"palette", glowcast::ctl::runPalette},
    {"pin", glowcast::ctl::runPin},           {"unpin", glowcast::ctl::runUnpin},
    {"systems", glowcast::ctl::runSystems},
};

} // namespace

extern "C" __attribute__((visibility("default"))) int glowcast_ctl_run(const char* command, const std::string* words,
                                                                       std::size_t count)
{
    for (const ModuleCommand& known : kModuleCommands)
        if (known.name == command)
            return known.run(glowcast::ctl::Arguments{words, count});
    // glowcastctl and this module are built together: a name glowcastctl sends here is always known.
    std::fprintf(stderr, "glowcastctl: %s is not in %s\n", command, glowcast::ctl::kCommandsModuleFile);
    return 1;
}
