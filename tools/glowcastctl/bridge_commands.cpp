// glowcastctl discover, pair, lights and set: the bridge client with the real adapters and the
// application's own preferences file.

#include "commands.h"

#include "adapters/files/file_preferences.h"
#include "adapters/process/console_prompts.h"
#include "adapters/process/portal_host.h"
#include "adapters/process/stderr_log.h"
#include "adapters/qt/qt_http_transport.h"
#include "adapters/qt/qt_sleeper.h"
#include "core/bridge_bridge.h"
#include "core/json_codec.h"
#include "core/lamp_colour.h"
#include "core/settings.h"

#include <QCoreApplication>

#include <charconv>
#include <cstdio>
#include <optional>
#include <string_view>

namespace glowcast::ctl {

namespace {

// The log on standard error, without the decoder's working unless asked for.
class CommandLog final : public Log {
public:
    explicit CommandLog(bool verbose) : m_verbose(verbose) {}
    void write(std::string_view line) override
    {
        if (!m_verbose &&
            (line.starts_with("parsing: ") || line.starts_with("left part '") || line.starts_with("returnValue:")))
            return;
        m_log.write(line);
    }

private:
    StderrLog m_log{"glowcastctl"};
    bool m_verbose;
};

// Everything one command needs; the Qt adapters need the application object to exist first.
struct Session {
    explicit Session(bool verbose) : log(verbose) {}

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
    BridgeBridge bridge{
        http, preferences, sleeper, log, window, alert, portalHost(portalHostFromEnvironment(), settings)};
};

// A bridge command's words after "-v"/"--verbose" is taken out.
struct CommandLine {
    std::vector<std::string> words;
    bool verbose = false;
};

bool asked(Arguments args)
{
    for (const std::string& word : args)
        if (word == "--help" || word == "-h")
            return true;
    return false;
}

// The command line when it holds exactly wordCount words and known options. Otherwise prints the
// usage (on standard output when help was asked for), sets the exit status and returns nothing.
std::optional<CommandLine> parseCommandLine(Arguments args, const std::string& usage, std::size_t wordCount,
                                            int& status)
{
    CommandLine line;
    bool valid = !asked(args);
    for (const std::string& word : args) {
        if (word == "-v" || word == "--verbose")
            line.verbose = true;
        else if (word.starts_with("-") && word.size() > 1 && !(word[1] >= '0' && word[1] <= '9'))
            valid = false;
        else
            line.words.push_back(word);
    }
    if (valid && line.words.size() == wordCount)
        return line;
    std::fputs(usage.c_str(), asked(args) ? stdout : stderr);
    status = asked(args) ? 0 : 2;
    return std::nullopt;
}

constexpr const char* kEnvironment =
    "\nGLOWCAST_PORTAL (host or host:port) names the discovery portal, else the \"portal\" setting does;\n"
    "GLOWCAST_CONFIG_DIR the directory of preferences.json (default $XDG_CONFIG_HOME/glowcast).\n"
    "-v shows the reply decoder's working too.\n";

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
    static const std::string kUsage = std::string("usage: glowcastctl discover [-v]\n"
                                                  "Finds the bridge's address through the portal, else the last "
                                                  "address that worked, and prints it.\n") +
                                      kEnvironment;
    int status = 0;
    const std::optional<CommandLine> line = parseCommandLine(args, kUsage, 0, status);
    if (!line)
        return status;
    Session session{line->verbose};
    session.bridge.discoverBridge();
    if (!session.bridge.bridgeIP()) {
        std::fprintf(stderr, "glowcastctl discover: no bridge address found\n");
        return 1;
    }
    std::printf("%s\n", session.bridge.bridgeIP()->c_str());
    return 0;
}

int runPair(Arguments args)
{
    static const std::string kUsage =
        std::string("usage: glowcastctl pair [-v]\n"
                    "Pairs with the bridge: press its link button while this waits (up to 75 seconds).\n"
                    "The user name the bridge gives is stored in the preferences.\n") +
        kEnvironment;
    int status = 0;
    const std::optional<CommandLine> line = parseCommandLine(args, kUsage, 0, status);
    if (!line)
        return status;
    Session session{line->verbose};
    if (!session.bridge.logIn()) {
        std::fprintf(stderr, "glowcastctl pair: not paired\n");
        return 1;
    }
    std::printf("paired with the bridge at %s\n", session.bridge.bridgeIP()->c_str());
    return 0;
}

int runLights(Arguments args)
{
    static const std::string kUsage =
        std::string("usage: glowcastctl lights [-v]\n"
                    "Lists the bridge's lamps, one \"ID<TAB>NAME\" line each (pairs first when no user name "
                    "is stored).\n") +
        kEnvironment;
    int status = 0;
    const std::optional<CommandLine> line = parseCommandLine(args, kUsage, 0, status);
    if (!line)
        return status;
    Session session{line->verbose};
    const std::optional<std::string> reply = session.bridge.sendGETRequestToUrl("lights");
    if (!reply) {
        std::fprintf(stderr, "glowcastctl lights: the bridge gave no lamp list\n");
        return 1;
    }
    const Dictionary lamps = dictionaryFromJSON(*reply, session.log);
    for (std::size_t i = 0; i < lamps.size(); ++i) {
        const Dictionary* lamp = lamps.valueAt(i).asDictionary();
        const std::optional<std::string> name = lamp ? lamp->text("name") : std::nullopt;
        std::printf("%s\t%s\n", lamps.keys()[i].c_str(), describe(name).c_str());
    }
    return 0;
}

int runSet(Arguments args)
{
    static const std::string kUsage =
        std::string("usage: glowcastctl set [-v] ID R G B\n"
                    "Sends lamp ID the state Glowcast sends for the colour R G B (each 0..255).\n") +
        kEnvironment;
    int status = 0;
    const std::optional<CommandLine> line = parseCommandLine(args, kUsage, 4, status);
    if (!line)
        return status;
    const std::vector<std::string>& words = line->words;
    const std::optional<int> red = colourByte(words[1]);
    const std::optional<int> green = colourByte(words[2]);
    const std::optional<int> blue = colourByte(words[3]);
    if (!red || !green || !blue) {
        std::fprintf(stderr, "glowcastctl set: R, G and B are whole numbers from 0 to 255\n\n%s", kUsage.c_str());
        return 2;
    }
    Session session{line->verbose};
    const Colour colour{*red / 255.0, *green / 255.0, *blue / 255.0, 1.0};
    const Dictionary body = lampStateBody(colour, session.log);
    if (!session.bridge.sendPUTRequest(body, "lights/" + words[0] + "/state")) {
        std::fprintf(stderr, "glowcastctl set: the bridge did not take the state\n");
        return 1;
    }
    std::printf("%s\n", JSONFromDictionary(body).c_str());
    return 0;
}

} // namespace glowcast::ctl
