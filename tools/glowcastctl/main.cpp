#include "glowcastctl/commands.h"
#include "glowcastctl/commands_module.h"

#include "adapters/process/shared_library.h"
#include "adapters/process/stderr_log.h"
#include "adapters/qt/program_command_line.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Command {
    std::string_view name;
    std::string_view synopsis;
    // Null for a command in glowcastctl-commands.so.
    int (*run)(glowcast::ctl::Arguments);
};

constexpr Command kCommands[] = {
    {"decode", "decode                 read a bridge reply on stdin, print what Glowcast makes of it",
     glowcast::ctl::runDecode},
    {"colours", "colours IMAGE [N]      the N colours (default 5) the lamps would get for a cover",
     glowcast::ctl::runColours},
    {"discover", "discover               find the bridge's address (GLOWCAST_PORTAL, else the last one) and print it",
     nullptr},
    {"pair", "pair                   pair with the bridge while you press its link button", nullptr},
    {"lights", "lights                 list the bridge's lamps: ID and name", nullptr},
    {"set", "set ID R G B           send lamp ID the state Glowcast sends for the colour R G B (0..255)", nullptr},
    {"players", "players                the media players on the session bus, and the one Glowcast would follow",
     nullptr},
    {"lamps", "lamps                  the lamps and whether each follows the cover (ID, on|off, name)", nullptr},
    {"enable", "enable ID              lamp ID follows the cover", nullptr},
    {"disable", "disable ID             lamp ID no longer follows the cover", nullptr},
    {"status", "status                 whether Glowcast runs, is paired, its bridge, player and last colours", nullptr},
    {"bridge", "bridge ADDRESS         store the bridge's address (host or host:port)", nullptr},
    {"config", "config [KEY [VALUE]]   show the settings, one setting, or set one", nullptr},
    {"palette", "palette [--json]       the last cover's colours in lamp order, a readable pair and the track",
     nullptr},
    {"pin", "pin                    covers change nothing on the lamps (also after a restart)", nullptr},
    {"unpin", "unpin                  covers colour the lamps again, the last one at once", nullptr},
    {"systems", "systems [add|set|remove ...]  the lamp systems beside the first bridge (systems --help)", nullptr},
};

// Runs a command that needs Qt D-Bus or Qt Network from the module that holds them, so that the
// commands that only read files start without mapping either.
int runInModule(const Command& command, glowcast::ctl::Arguments args)
{
    glowcast::StderrLog log("glowcastctl");
    const std::unique_ptr<glowcast::SharedLibrary> module =
        glowcast::SharedLibrary::openModule(glowcast::ctl::kCommandsModuleFile, log);
    auto* run = module != nullptr ? module->function<GlowcastCtlRun>(glowcast::ctl::kCommandsModuleFunction) : nullptr;
    if (run == nullptr) {
        std::fprintf(stderr, "glowcastctl: cannot run %s without its module %s\n", std::string(command.name).c_str(),
                     glowcast::ctl::kCommandsModuleFile);
        return 1;
    }
    return run(std::string(command.name).c_str(), args.data(), args.size());
}

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
            return command.run != nullptr ? command.run(glowcast::ctl::Arguments{words}.subspan(1))
                                          : runInModule(command, glowcast::ctl::Arguments{words}.subspan(1));
    std::fprintf(stderr, "glowcastctl: unknown command '%s'\n\n%s", words[0].c_str(),
                 commandLine.helpText().toLocal8Bit().constData());
    return 2;
}
