// glowcast-bridge-sim: a lighting bridge and its discovery portal on one HTTP port, for tests, the
// demo and users without hardware.

#include "adapters/qt/program_command_line.h"
#include "bridge_sim/live_page.h"
#include "bridge_sim/sim_bridge.h"
#include "sim_page/serving.h"

#include <httplib.h>

#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <pthread.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using glowcast::sim::Fault;
using glowcast::sim::FaultMode;
using glowcast::sim::LampKind;
using glowcast::sim::Reply;
using glowcast::sim::SimBridge;

constexpr auto kLongestHold = 600s;

const char* const kDescription =
    "Serves a simulated lighting bridge and its discovery portal on one port.\n"
    "The first line on standard output is \"listening on HOST:PORT\".\n"
    "Open http://HOST:PORT/ in a browser to watch the lamps.\n"
    "Portal: GET /api/nupnp.  Bridge: version 1 of the local API under /api: pairing, config, lights,\n"
    "  groups, the whole state; schedules, scenes, rules, sensors and resourcelinks keep what they are given.\n"
    "Lamp kinds for --lamps: extended (gamut C and colour temperature), colour-a, colour-b (gamut A or B),\n"
    "  temperature (colour temperature only), dimmable (brightness only).\n"
    "Control: POST /sim/linkbutton; POST /sim/lamps {\"count\":N}, {\"names\":[...]} and/or {\"kinds\":[...]},\n"
    "  or {\"lamps\":[{\"id\":\"...\",\"name\":\"...\"},...]} (ids and names as given);\n"
    "  POST /sim/lamps/ID {\"reachable\":false};\n"
    "  GET|DELETE /sim/requests (method, path, body, time, client port);\n"
    "  POST /sim/faults {\"mode\":\"none|noanswer|drop|status|garbage|oversized\",\n"
    "    \"latency_ms\":N, \"status\":S, \"body\":\"...\", \"size\":BYTES, \"count\":N,\n"
    "    \"path\":\"...\" (only requests whose path ends so)}; DELETE /sim/faults;\n"
    "  POST /sim/users {\"username\":\"...\"}; GET /sim/state.";

struct Options {
    std::string host = "127.0.0.1";
    int port = 0;
    SimBridge::Options bridge;
};

bool parseNumber(const QString& text, double low, double high, double& out)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !(value >= low && value <= high))
        return false;
    out = value;
    return true;
}

// A comma-separated list of 1 to 64 lamp kinds.
bool parseKinds(const std::string& text, std::vector<LampKind>& out)
{
    std::vector<LampKind> kinds;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::optional<LampKind> kind = glowcast::sim::lampKindNamed(text.substr(start, comma - start));
        if (!kind || kinds.size() == 64)
            return false;
        kinds.push_back(*kind);
        start = comma + 1;
    }
    out = kinds;
    return true;
}

bool parseWhole(const QString& text, int low, int high, int& out)
{
    double value = 0;
    if (!parseNumber(text, low, high, value) || value != static_cast<int>(value))
        return false;
    out = static_cast<int>(value);
    return true;
}

// Nothing to go on, else the exit status.
std::optional<int> parseOptions(int argc, char** argv, Options& options)
{
    glowcast::ProgramCommandLine commandLine(QStringLiteral("glowcast-bridge-sim"), QString::fromUtf8(kDescription));
    QCommandLineParser& parser = commandLine.parser;
    const QCommandLineOption host(QStringLiteral("host"), QStringLiteral("Address to listen on (default 127.0.0.1)."),
                                  QStringLiteral("ADDRESS"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Port to listen on; 0 (the default) picks a free one."),
                                  QStringLiteral("PORT"));
    const QCommandLineOption lamps(
        QStringLiteral("lamps"),
        QStringLiteral("N extended colour lamps, 0..64 (default 3), or one lamp of each kind listed (see above)."),
        QStringLiteral("N|KIND,..."));
    const QCommandLineOption rateLimit(
        QStringLiteral("rate-limit"), QStringLiteral("Answer \"429 Too Many Requests\" past N lamp commands a second."),
        QStringLiteral("N"));
    const QCommandLineOption pressAfter(
        QStringLiteral("press-after"),
        QStringLiteral("Press the link button by itself that long after the first pairing request."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption user(QStringLiteral("user"),
                                  QStringLiteral("A user name the bridge knows already (may be repeated)."),
                                  QStringLiteral("NAME"));
    const QCommandLineOption bridgeId(
        QStringLiteral("bridge-id"),
        QStringLiteral("The bridge's id, 16 hexadecimal digits (default 024743FFFE000001): its config's bridgeid,\n"
                       "its discovery entry and its MAC address, so that two simulators tell themselves apart."),
        QStringLiteral("ID"));
    parser.addOptions({host, port, lamps, rateLimit, pressAfter, user, bridgeId});
    if (const std::optional<int> status = commandLine.parse(argc, argv))
        return status;

    const auto refuse = [&](const QCommandLineOption& option) {
        return commandLine.refuse(
            QStringLiteral("bad value for --%1: '%2'").arg(option.names().constFirst(), parser.value(option)));
    };
    double seconds = 0;
    if (parser.isSet(host))
        options.host = parser.value(host).toStdString();
    if (parser.isSet(port) && !parseWhole(parser.value(port), 0, 65535, options.port))
        return refuse(port);
    int count = 0;
    if (parser.isSet(lamps)) {
        if (parseWhole(parser.value(lamps), 0, 64, count))
            options.bridge.lamps.assign(static_cast<std::size_t>(count), LampKind::ExtendedColour);
        else if (!parseKinds(parser.value(lamps).toStdString(), options.bridge.lamps))
            return refuse(lamps);
    }
    if (parser.isSet(rateLimit) && !parseWhole(parser.value(rateLimit), 1, 100000, options.bridge.rateLimit))
        return refuse(rateLimit);
    if (parser.isSet(pressAfter)) {
        if (!parseNumber(parser.value(pressAfter), 0, 86400, seconds))
            return refuse(pressAfter);
        options.bridge.pressAfter = std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    }
    if (parser.isSet(bridgeId)) {
        const QString id = parser.value(bridgeId).toUpper();
        static const QRegularExpression kSixteenHexDigits(QStringLiteral("^[0-9A-F]{16}$"));
        if (!kSixteenHexDigits.match(id).hasMatch())
            return refuse(bridgeId);
        options.bridge.bridgeId = id.toStdString();
    }
    for (const QString& name : parser.values(user)) {
        if (name.isEmpty())
            return commandLine.refuse(QStringLiteral("bad value for --user: an empty name"));
        options.bridge.users.push_back(name.toStdString());
    }
    return std::nullopt;
}

void answer(httplib::Response& response, const Reply& reply)
{
    response.status = reply.status;
    for (const auto& [name, value] : reply.headers)
        response.set_header(name, value);
    response.set_content(reply.body, reply.contentType.c_str());
}

std::string garbageBody()
{
    static const char kBytes[] = "\xff\xfe\x00<<not json>>\x80\x81{[\"\xc3\x28 ]]}}\x01\x02 garbage\r\n";
    return std::string(kBytes, sizeof kBytes - 1);
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (const std::optional<int> status = parseOptions(argc, argv, options))
        return *status;

    const sigset_t signals = glowcast::sim::blockStopSignals();

    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(24); };
    // A client that keeps its connection open reuses it for every request, as bridges allow.
    server.set_keep_alive_max_count(100000);
    server.set_keep_alive_timeout(30);
    server.set_payload_max_length(16u << 20);
    // A reply's head and body go out in separate writes; without this each one waits for the
    // client's delayed acknowledgement, some 40 ms a request.
    server.set_tcp_nodelay(true);
    // A bridge answers with plain bodies whatever encodings the client offers; the request record,
    // the size faults and the timings all rest on that. The request object is the server's own,
    // not a constant, so dropping the header here is sound.
    server.set_pre_routing_handler([](const httplib::Request& request, httplib::Response&) {
        auto& headers = const_cast<httplib::Request&>(request).headers;
        headers.erase("Accept-Encoding");
        return httplib::Server::HandlerResponse::Unhandled;
    });

    const int port = options.port == 0 ? server.bind_to_any_port(options.host)
                                       : (server.bind_to_port(options.host, options.port) ? options.port : -1);
    if (port < 0) {
        std::fprintf(stderr, "glowcast-bridge-sim: cannot listen on %s:%d\n", options.host.c_str(), options.port);
        return 1;
    }
    const std::string shownHost = options.host == "0.0.0.0" ? "127.0.0.1" : options.host;
    const bool bracketed = shownHost.find(':') != std::string::npos;
    const std::string address = (bracketed ? "[" + shownHost + "]" : shownHost) + ":" + std::to_string(port);
    options.bridge.advertisedAddress = address;
    SimBridge sim{options.bridge};

    const auto handle = [&sim](const httplib::Request& request, httplib::Response& response) {
        const std::string& path = request.path;
        if (path == "/" && request.method == "GET") {
            response.set_content(std::string{glowcast::sim::kLivePage}, "text/html; charset=utf-8");
            return;
        }
        if (path.starts_with("/sim/")) {
            answer(response, sim.handleControl(request.method, path, request.body));
            return;
        }
        if (path != "/api" && !path.starts_with("/api/")) {
            answer(response, {404, R"({"error":"not found"})"});
            return;
        }

        const Fault fault = sim.record(request.method, request.target, request.body, request.remote_port);
        if (fault.latency > 0ms)
            sim.delay(fault.latency);
        switch (fault.mode) {
        case FaultMode::NoAnswer:
            sim.holdWithoutAnswer(kLongestHold);
            answer(response, {503, R"({"error":"held without answer"})"});
            return;
        case FaultMode::Drop: {
            // The head goes out with its length, then the connection closes with no body.
            response.status = 200;
            response.set_content_provider(64, "application/json",
                                          [](std::size_t, std::size_t, httplib::DataSink&) { return false; });
            return;
        }
        case FaultMode::Garbage:
            answer(response, {200, garbageBody()});
            return;
        case FaultMode::Oversized:
            answer(response, {200, std::string(fault.size, 'x')});
            return;
        case FaultMode::Status: {
            Reply reply = fault.body ? Reply{} : sim.handleApi(request.method, path, request.body);
            if (fault.body)
                reply.body = *fault.body;
            reply.status = fault.status;
            answer(response, reply);
            return;
        }
        case FaultMode::None:
            break;
        }
        answer(response, sim.handleApi(request.method, path, request.body));
    };
    server.Get(".*", handle);
    server.Put(".*", handle);
    server.Post(".*", handle);
    server.Delete(".*", handle);
    server.Patch(".*", handle);

    return glowcast::sim::serveUntilSignalled(server, signals, address, [&sim] { sim.stop(); }) ? 0 : 1;
}
