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
    {"pair", "pair                   pair with the bridge while you press its link button", glowcast::ctl::runPair},
    {"lights", "lights                 list the bridge's lamps: ID and name", glowcast::ctl::runLights},
    {"set", "set ID R G B           send lamp ID the state Glowcast sends for the colour R G B (0..255)",
     glowcast::ctl::runSet},
    {"players", "players                the media players on the session bus, and the one Glowcast would follow",
     glowcast::ctl::runPlayers},
};

void printUsage(std::FILE* to)
{
    std::fprintf(to, "usage: glowcastctl COMMAND [ARGS]\n\ncommands:\n");
    for (const Command& command : kCommands)
        std::fprintf(to, "  %.*s\n", static_cast<int>(command.synopsis.size()), command.synopsis.data());
    std::fprintf(to, "\n  glowcastctl COMMAND --help  shows a command's own help\n");
}

} // namespace

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
