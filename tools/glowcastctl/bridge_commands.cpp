// glowcastctl discover, pair, lights and set: the bridge client with the real adapters and the
// application's own preferences file.

#include "glowcastctl/commands.h"
#include "glowcastctl/system_bridge_preferences.h"

#include "adapters/files/file_preferences.h"
#include "adapters/process/console_prompts.h"
#include "adapters/process/portal_host.h"
#include "adapters/qt/program_command_line.h"
#include "adapters/qt/qt_http_transport.h"
#include "adapters/qt/qt_sleeper.h"
#include "core/bridge_bridge.h"
#include "core/json_codec.h"
#include "core/lamp_colour.h"
#include "core/log_text.h"
#include "core/settings.h"

#include <QCoreApplication>

#include <charconv>
#include <cstdio>
#include <optional>
#include <string_view>

namespace glowcast::ctl {

namespace {

// Everything one command needs; the Qt adapters need the application object to exist first. With a
// system's id, the bridge client works on that bridge: its address and user, no portal; an id no
// bridge system has leaves no bridge client and says why in refusal.
struct Session {
    Session(bool verbose, const std::optional<std::string>& systemId) : log(verbose)
    {
        std::optional<SystemRecord> system;
        if (systemId) {
            for (const SystemRecord& record : preferences.systems())
                if (record.id == *systemId)
                    system = record;
            if (!system) {
                refusal = "there is no lamp system with the id \"" + *systemId + "\"";
                return;
            }
            if (system->kind != SystemKind::Bridge) {
                refusal = *systemId + " is a " + std::string{systemKindName(system->kind)} + " system, not a bridge";
                return;
            }
            systemPreferences.emplace(preferences, *system);
        }
        bridge.emplace(http, systemPreferences ? static_cast<Preferences&>(*systemPreferences) : preferences, sleeper,
                       log, window, alert, system ? std::nullopt : portalHost(portalHostFromEnvironment(), settings));
    }

    int argc = 1;
    char name[12] = "glowcastctl";
    char* argv[2] = {name, nullptr};
    QCoreApplication application{argc, argv};
    CommandLog log;
    FilePreferences preferences{log, FilePreferences::defaultDirectory()};
    std::optional<SystemBridgePreferences> systemPreferences;
    QtHttpTransport http{log};
    QtSleeper sleeper;
    ConsoleLinkButtonPrompt window;
    ConsoleAlert alert;
    Settings settings{preferences, log};
    std::optional<BridgeBridge> bridge;
    std::string refusal;
};

constexpr const char* kEnvironment =
    "\n\nGLOWCAST_PORTAL (host or host:port) names the discovery portal, else the \"portal\" setting does;\n"
    "GLOWCAST_CONFIG_DIR the directory of preferences.json (default $XDG_CONFIG_HOME/glowcast).\n"
    "--system ID acts on a further bridge (glowcastctl systems lists them) instead of the first one.";

// The command line of a bridge command, with what every one of them reads from the environment.
class BridgeCommandLine {
public:
    BridgeCommandLine(const char* name, const char* description)
        : line(QStringLiteral("glowcastctl ") + QLatin1String(name),
               QString::fromUtf8(description) + QLatin1String(kEnvironment)),
          m_name(name)
    {
        line.addVerboseOption();
        line.parser.addOption(
            {QStringLiteral("system"), QStringLiteral("A further bridge, by its id."), QStringLiteral("ID")});
    }
    ProgramCommandLine line;

    [[nodiscard]] std::optional<std::string> system() const { return line.value(QStringLiteral("system")); }
    // The exit status when the session has no bridge client, after saying why.
    [[nodiscard]] int refused(const Session& session) const
    {
        std::fprintf(stderr, "glowcastctl %s: %s\n", m_name, session.refusal.c_str());
        return 1;
    }

private:
    const char* m_name;
};

std::optional<int> colourByte(const std::string& word)
{
    int value = -1;
    const auto result = std::from_chars(word.data(), word.data() + word.size(), value);
    if (result.ec != std::errc{} || result.ptr != word.data() + word.size() || value < 0 || value > 255)
        return std::nullopt;
    return value;
}

} // namespace

int runDiscover(Arguments args)
{
    BridgeCommandLine command("discover", "Finds the bridge's address through the portal, else the last address "
                                          "that worked, and prints it.");
    if (const std::optional<int> status = command.line.parse(args, 0, 0))
        return *status;
    Session session{command.line.verbose(), command.system()};
    if (!session.bridge)
        return command.refused(session);
    session.bridge->discoverBridge();
    if (!session.bridge->bridgeIP()) {
        std::fprintf(stderr, "glowcastctl discover: no bridge address found\n");
        return 1;
    }
    std::printf("%s\n", session.bridge->bridgeIP()->c_str());
    return 0;
}

int runPair(Arguments args)
{
    BridgeCommandLine command("pair", "Pairs with the bridge: press its link button while this waits (up to 75 "
                                      "seconds).\nThe user name the bridge gives is stored in the preferences.");
    if (const std::optional<int> status = command.line.parse(args, 0, 0))
        return *status;
    Session session{command.line.verbose(), command.system()};
    if (!session.bridge)
        return command.refused(session);
    if (!session.bridge->pair()) {
        std::fprintf(stderr, "glowcastctl pair: not paired\n");
        return 1;
    }
    std::printf("paired with the bridge at %s\n", session.bridge->bridgeIP()->c_str());
    return 0;
}

int runLights(Arguments args)
{
    BridgeCommandLine command("lights", "Lists the bridge's lamps, one \"ID<TAB>NAME\" line each (pairs first when "
                                        "no user name is stored).");
    if (const std::optional<int> status = command.line.parse(args, 0, 0))
        return *status;
    Session session{command.line.verbose(), command.system()};
    if (!session.bridge)
        return command.refused(session);
    const std::optional<std::string> reply = session.bridge->read("lights");
    if (!reply) {
        std::fprintf(stderr, "glowcastctl lights: the bridge gave no lamp list\n");
        return 1;
    }
    const Dictionary lamps = dictionaryFromJSON(*reply, session.log);
    for (std::size_t i = 0; i < lamps.size(); ++i) {
        const Dictionary* lamp = lamps.valueAt(i).asDictionary();
        const std::optional<std::string> name = lamp ? lamp->text("name") : std::nullopt;
        std::printf("%s\t%s\n", printable(lamps.keys()[i]).c_str(), printable(describe(name)).c_str());
    }
    return 0;
}

int runSet(Arguments args)
{
    BridgeCommandLine command("set", "Sends lamp ID the state Glowcast sends for the colour R G B (each 0..255).");
    for (const char* word : {"ID", "R", "G", "B"})
        command.line.parser.addPositionalArgument(QLatin1String(word), {});
    if (const std::optional<int> status = command.line.parse(args, 4, 4))
        return *status;
    const std::vector<std::string> words = command.line.words();
    const std::optional<int> red = colourByte(words[1]);
    const std::optional<int> green = colourByte(words[2]);
    const std::optional<int> blue = colourByte(words[3]);
    if (!red || !green || !blue)
        return command.line.refuse(QStringLiteral("R, G and B are whole numbers from 0 to 255"));
    Session session{command.line.verbose(), command.system()};
    if (!session.bridge)
        return command.refused(session);
    const Colour colour{*red / 255.0, *green / 255.0, *blue / 255.0, 1.0};
    const Dictionary body = lampStateBody(colour, session.log);
    if (!session.bridge->sendPUTRequest(body, "lights/" + words[0] + "/state")) {
        std::fprintf(stderr, "glowcastctl set: the bridge did not take the state\n");
        return 1;
    }
    std::printf("%s\n", JSONFromDictionary(body).c_str());
    return 0;
}

} // namespace glowcast::ctl
