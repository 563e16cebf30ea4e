#include "commands.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Command {
    std::string_view name;
    std::string_view synopsis;
    int (*run)(glowcast::ctl::Arguments);
};

constexpr Command kCommands[] = {
    {"decode", "decode                 read a bridge reply on stdin, print what Glowcast makes of it",
     glowcast::ctl::runDecode},
    {"colours", "colours IMAGE [N]      the N colours (default 5) the lamps would get for a cover",
     glowcast::ctl::runColours},
    {"discover", "discover               find the bridge's address (GLOWCAST_PORTAL, else the last one) and print it",
     glowcast::ctl::runDiscover},
    {"pair", "pair                   pair with the bridge while you press its link button",
     glowcast::ctl::runPair},
    {"lights", "lights                 list the bridge's lamps: ID and name",
     glowcast::ctl::runLights},
    {"set", "set ID R G B           send lamp ID the state Glowcast sends for the colour R G B (0..255)",
     glowcast::ctl::runSet},
    {"lamps", "lamps                  the lamps and whether each follows the cover (ID, on|off, name)",
     glowcast::ctl::runLamps},
    {"enable", "enable ID              lamp ID follows the cover", glowcast::ctl::runEnable},
    {"disable", "disable ID             lamp ID no longer follows the cover", glowcast::ctl::runDisable},
    {"status", "status                 whether Glowcast runs, is paired, its bridge, player and last colours",
     glowcast::ctl::runStatus},
    {"bridge", "bridge ADDRESS         store the bridge's address (host or host:port)", glowcast::ctl::runBridge},
    {"config", "config [KEY [VALUE]]   show the settings, one setting, or set one", glowcast::ctl::runConfig},
};

void printUsage(std::FILE* to)
{
    std::fprintf(to, "usage: glowcastctl COMMAND [ARGS]\n\ncommands:\n");
    for (const Command& command : kCommands)
        std::fprintf(to, "  %.*s\n", static_cast<int>(command.synopsis.size()), command.synopsis.data());
    std::fprintf(to, "\n  glowcastctl COMMAND --help  shows a command's own help\n"
                     "  lamps, enable, disable, status, bridge and config act on the running Glowcast when there\n"
                     "  is one, else on the preferences file.\n");
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> words(argv + 1, argv + argc);
    if (words.empty()) {
        printUsage(stderr);
        return 2;
    }
    if (words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
        printUsage(stdout);
        return 0;
    }
    for (const Command& command : kCommands)
        if (words[0] == command.name)
            return command.run(glowcast::ctl::Arguments{words}.subspan(1));
    std::fprintf(stderr, "glowcastctl: unknown command '%s'\n\n", words[0].c_str());
    printUsage(stderr);
    return 2;
}
