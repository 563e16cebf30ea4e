#include "glowcastctl/commands.h"

#include "adapters/qt/program_command_line.h"

#include <cstdio>
#include <optional>
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
    {"lamps", "lamps                  the lamps and whether each follows the cover (ID, on|off, name)",
     glowcast::ctl::runLamps},
    {"enable", "enable ID              lamp ID follows the cover", glowcast::ctl::runEnable},
    {"disable", "disable ID             lamp ID no longer follows the cover", glowcast::ctl::runDisable},
    {"status", "status                 whether Glowcast runs, is paired, its bridge, player and last colours",
     glowcast::ctl::runStatus},
    {"bridge", "bridge ADDRESS         store the bridge's address (host or host:port)", glowcast::ctl::runBridge},
    {"config", "config [KEY [VALUE]]   show the settings, one setting, or set one", glowcast::ctl::runConfig},
    {"palette", "palette [--json]       the last cover's colours in lamp order, a readable pair and the track",
     glowcast::ctl::runPalette},
    {"pin", "pin                    covers change nothing on the lamps (also after a restart)", glowcast::ctl::runPin},
    {"unpin", "unpin                  covers colour the lamps again, the last one at once", glowcast::ctl::runUnpin},
    {"systems", "systems [add|set|remove ...]  the lamp systems beside the first bridge (systems --help)",
     glowcast::ctl::runSystems},
};

QString description()
{
    QString text = QStringLiteral(
        "Looks into what Glowcast does and talks to the lighting bridge from a terminal.\n\nCommands:\n");
    for (const Command& command : kCommands)
        text += QStringLiteral("  ") + QString::fromUtf8(command.synopsis.data(), command.synopsis.size()) + u'\n';
    return text + QStringLiteral("\n  glowcastctl COMMAND --help  shows a command's own help\n"
                                 "  lamps, enable, disable, status, bridge, config, pin, unpin and systems act on the\n"
                                 "  running Glowcast when there is one, else on the preferences file.");
}

} // namespace

int main(int argc, char** argv)
{
    glowcast::ProgramCommandLine commandLine(QStringLiteral("glowcastctl"), description());
    commandLine.parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("One of the commands above."),
                                             QStringLiteral("COMMAND [ARGS...]"));
    // Everything from the command on is the command's own.
    commandLine.parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    if (const std::optional<int> status = commandLine.parse(argc, argv, 0, argc))
        return *status;
    const std::vector<std::string> words = commandLine.words();
    if (words.empty()) {
        std::fputs(commandLine.helpText().toLocal8Bit().constData(), stderr);
        return 2;
    }
    if (words[0] == "help") {
        std::fputs(commandLine.helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    for (const Command& command : kCommands)
        if (words[0] == command.name)
            return command.run(glowcast::ctl::Arguments{words}.subspan(1));
    std::fprintf(stderr, "glowcastctl: unknown command '%s'\n\n%s", words[0].c_str(),
                 commandLine.helpText().toLocal8Bit().constData());
    return 2;
}
