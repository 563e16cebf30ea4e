// glowcastctl discover, pair, lights and set: the first bridge's client, or a further bridge's adapter as
// Glowcast drives it, with the real adapters and the application's own preferences file.

#include "glowcastctl/commands.h"

#include "adapters/bridge/bridge_system.h"
#include "adapters/files/file_preferences.h"
#include "adapters/process/console_prompts.h"
#include "adapters/process/portal_host.h"
#include "adapters/qt/program_command_line.h"
#include "adapters/qt/qt_http_transport.h"
#include "adapters/qt/qt_sleeper.h"
#include "core/bridge/bridge_body.h"
#include "core/bridge/bridge_bridge.h"
#include "core/bridge/bridge_wire.h"
#include "core/json/json_codec.h"
#include "core/lamp_systems/system_kinds.h"
#include "core/palette/lamp_colour.h"
#include "core/settings/settings.h"
#include "core/text/log_text.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <charconv>
#include <cstdio>
#include <optional>
#include <string_view>

namespace glowcast::ctl {

namespace {

// A further bridge through its adapter, waited for in a local event loop until the adapter tells what
// was asked (each request and the pairing are bounded in time and end in a telling). A user name it
// obtains by pairing goes into the system's record.
class FurtherBridge final : public LampSystemListener {
public:
    FurtherBridge(Preferences& file, SystemRecord record, Log& log)
        : m_file(file), m_record(std::move(record)), m_log(log)
    {
    }

    [[nodiscard]] const std::string& address() const { return m_record.address; }
    // Pairs anew, whether or not a user name is stored.
    [[nodiscard]] bool pair()
    {
        m_record.user.reset();
        return paired();
    }
    // The lamps, read after pairing when no user name is stored.
    [[nodiscard]] std::optional<std::vector<SystemLamp>> lamps()
    {
        start();
        waitUntil([&] { return m_lamps.has_value(); });
        return std::move(m_lamps);
    }
    // Puts a lamp-state body, after pairing when no user name is stored.
    [[nodiscard]] bool put(const std::string& key, const std::string& body)
    {
        if (!paired())
            return false;
        m_bridge->setListener(nullptr); // a lamp list read after pairing fails apart from the put
        std::optional<SendResult> result;
        m_bridge->putState(key, body, [&](SendResult told) {
            result = told;
            m_loop.quit();
        });
        waitUntil([&] { return result.has_value(); });
        return result == SendResult::Delivered;
    }

private:
    bool paired()
    {
        if (m_record.user) {
            m_bridge.emplace(m_record, m_log);
            return true;
        }
        start();
        waitUntil([&] { return m_record.user.has_value(); });
        return m_record.user.has_value();
    }
    void start()
    {
        m_bridge.emplace(m_record, m_log);
        m_bridge->setListener(this);
        m_bridge->start();
    }
    template <typename Told> void waitUntil(Told told)
    {
        m_failed = false;
        while (!told() && !m_failed)
            m_loop.exec(QEventLoop::ExcludeUserInputEvents);
    }

    void lampsRead(std::vector<SystemLamp> lamps) override
    {
        m_lamps = std::move(lamps);
        m_loop.quit();
    }
    void stateChanged(SystemState state, std::string detail) override
    {
        if (state == SystemState::Pairing) {
            std::fprintf(stderr, "%s\n", printable(detail).c_str());
            return;
        }
        m_failed = true;
        m_loop.quit();
    }
    void userObtained(std::string user) override
    {
        m_record.user = user;
        (void)m_file.updateSystems([&](std::vector<SystemRecord> records) {
            for (SystemRecord& record : records)
                if (record.id == m_record.id)
                    record.user = user;
            return records;
        });
        m_loop.quit();
    }
    void identified(std::string /*identity*/) override {}

    Preferences& m_file;
    SystemRecord m_record;
    Log& m_log;
    QEventLoop m_loop;
    bool m_failed = false;
    std::optional<std::vector<SystemLamp>> m_lamps;
    std::optional<BridgeSystem> m_bridge; // last, so that it ends before what it tells
};

// Everything one command needs; the Qt adapters need the application object to exist first. Without a
// system's id, the first bridge's client; with one, that further bridge; an id no bridge system has
// leaves neither and says why in refusal.
struct Session {
    Session(bool verbose, const std::optional<std::string>& systemId) : log(verbose)
    {
        if (!systemId) {
            bridge.emplace(http, preferences, sleeper, log, window, alert,
                           portalHost(portalHostFromEnvironment(), settings));
            return;
        }
        for (const SystemRecord& record : preferences.systems())
            if (record.id == *systemId && record.kind == SystemKind::Bridge)
                further.emplace(preferences, record, log);
            else if (record.id == *systemId)
                refusal = *systemId + " is a " + std::string{systemKindName(record.kind)} + " system, not a bridge";
        if (!further && refusal.empty())
            refusal = "there is no lamp system with the id \"" + *systemId + "\"";
    }
    [[nodiscard]] bool refused() const { return !bridge && !further; }

    int argc = 1;
    char name[12] = "glowcastctl";
    char* argv[2] = {name, nullptr};
    QCoreApplication application{argc, argv};
    CommandLog log;
    FilePreferences preferences{log, FilePreferences::defaultDirectory()};
    QtHttpTransport http{log};
    QtSleeper sleeper;
    ConsoleLinkButtonPrompt window;
    ConsoleAlert alert;
    Settings settings{preferences, log};
    std::optional<BridgeBridge> bridge;
    std::optional<FurtherBridge> further;
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
    if (session.refused())
        return command.refused(session);
    std::optional<std::string> address;
    if (session.further) {
        if (isBridgeAddress(session.further->address()))
            address = session.further->address();
    } else {
        session.bridge->discoverBridge();
        address = session.bridge->bridgeIP();
    }
    if (!address) {
        std::fprintf(stderr, "glowcastctl discover: no bridge address found\n");
        return 1;
    }
    std::printf("%s\n", address->c_str());
    return 0;
}

int runPair(Arguments args)
{
    BridgeCommandLine command(
        "pair", "Pairs with the bridge: press its link button while this waits (up to 75 "
                "seconds, 30 for a further bridge).\nThe user name the bridge gives is stored in the preferences.");
    if (const std::optional<int> status = command.line.parse(args, 0, 0))
        return *status;
    Session session{command.line.verbose(), command.system()};
    if (session.refused())
        return command.refused(session);
    if (!(session.further ? session.further->pair() : session.bridge->pair())) {
        std::fprintf(stderr, "glowcastctl pair: not paired\n");
        return 1;
    }
    std::printf("paired with the bridge at %s\n",
                (session.further ? session.further->address() : *session.bridge->bridgeIP()).c_str());
    return 0;
}

int runLights(Arguments args)
{
    BridgeCommandLine command("lights", "Lists the bridge's lamps, one \"ID<TAB>NAME\" line each (pairs first when "
                                        "no user name is stored).");
    if (const std::optional<int> status = command.line.parse(args, 0, 0))
        return *status;
    Session session{command.line.verbose(), command.system()};
    if (session.refused())
        return command.refused(session);
    std::optional<std::vector<SystemLamp>> lamps;
    if (session.further)
        lamps = session.further->lamps();
    else if (const std::optional<std::string> reply = session.bridge->read("lights"))
        lamps = bridgeLampsFrom(*reply, {}, session.log);
    if (!lamps) {
        std::fprintf(stderr, "glowcastctl lights: the bridge gave no lamp list\n");
        return 1;
    }
    for (const SystemLamp& lamp : *lamps)
        std::printf("%s\t%s\n", printable(lamp.key).c_str(), printable(lamp.name).c_str());
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
    if (session.refused())
        return command.refused(session);
    const Colour colour{*red / 255.0, *green / 255.0, *blue / 255.0, 1.0};
    const Dictionary body = firstBridgeBody(lampTargetOf(colour, session.log));
    if (!(session.further ? session.further->put(words[0], JSONFromDictionary(body))
                          : session.bridge->sendPUTRequest(body, "lights/" + words[0] + "/state"))) {
        std::fprintf(stderr, "glowcastctl set: the bridge did not take the state\n");
        return 1;
    }
    std::printf("%s\n", JSONFromDictionary(body).c_str());
    return 0;
}

} // namespace glowcast::ctl
