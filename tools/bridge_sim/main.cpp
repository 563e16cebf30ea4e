// glowcast-bridge-sim: a lighting bridge and its discovery portal on one HTTP port, for tests, the
// demo and users without hardware.

#include "live_page.h"
#include "sim_bridge.h"

#include <httplib.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using glowcast::sim::Fault;
using glowcast::sim::FaultMode;
using glowcast::sim::Reply;
using glowcast::sim::SimBridge;

constexpr auto kLongestHold = 600s;

const char* const kUsage =
    "usage: glowcast-bridge-sim [--host ADDRESS] [--port PORT] [--lamps N] [--press-after SECONDS] [--user NAME]...\n"
    "\n"
    "Serves a simulated lighting bridge and its discovery portal on one port.\n"
    "  --host ADDRESS         address to listen on (default 127.0.0.1)\n"
    "  --port PORT            port to listen on; 0 (the default) picks a free one\n"
    "  --lamps N              number of lamps, 0..64 (default 3)\n"
    "  --press-after SECONDS  press the link button by itself that long after the first pairing request\n"
    "  --user NAME            a user name the bridge knows already (may be repeated)\n"
    "\n"
    "The first line on standard output is \"listening on HOST:PORT\".\n"
    "Open http://HOST:PORT/ in a browser to watch the lamps.\n"
    "Portal: GET /api/nupnp.  Bridge: POST /api, GET/PUT /api/USER/lights[/ID[/state]], POST/DELETE.\n"
    "Control: POST /sim/linkbutton; POST /sim/lamps {\"count\":N}, {\"names\":[...]} or\n"
    "  {\"lamps\":[{\"id\":\"...\",\"name\":\"...\"},...]} (ids and names as given);\n"
    "  GET|DELETE /sim/requests (method, path, body, time, client port); POST /sim/faults "
    "{\"mode\":\"none|noanswer|drop|status|garbage|oversized\",\n"
    "  \"latency_ms\":N, \"status\":S, \"body\":\"...\", \"size\":BYTES, \"count\":N,\n"
    "  \"path\":\"...\" (only requests whose path ends so)}; DELETE /sim/faults;\n"
    "  POST /sim/users {\"username\":\"...\"}; GET /sim/state.\n";

struct Options {
    std::string host = "127.0.0.1";
    int port = 0;
    SimBridge::Options bridge;
};

bool parseNumber(const std::string& text, double low, double high, double& out)
{
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !(value >= low && value <= high))
        return false;
    out = value;
    return true;
}

// 0 to go on, else the exit status.
int parseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--help" || word == "-h") {
            std::fputs(kUsage, stdout);
            return -1;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "glowcast-bridge-sim: unknown option or missing value: %s\n\n%s", word.c_str(),
                         kUsage);
            return 2;
        }
        const std::string value = argv[++i];
        double number = 0;
        if (word == "--host") {
            options.host = value;
        } else if (word == "--port" && parseNumber(value, 0, 65535, number) && number == static_cast<int>(number)) {
            options.port = static_cast<int>(number);
        } else if (word == "--lamps" && parseNumber(value, 0, 64, number) && number == static_cast<int>(number)) {
            options.bridge.lamps = static_cast<int>(number);
        } else if (word == "--press-after" && parseNumber(value, 0, 86400, number)) {
            options.bridge.pressAfter = std::chrono::milliseconds(static_cast<long long>(number * 1000));
        } else if (word == "--user" && !value.empty()) {
            options.bridge.users.push_back(value);
        } else {
            std::fprintf(stderr, "glowcast-bridge-sim: bad option %s %s\n\n%s", word.c_str(), value.c_str(), kUsage);
            return 2;
        }
    }
    return 0;
}

void answer(httplib::Response& response, const Reply& reply)
{
    response.status = reply.status;
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
    if (const int status = parseOptions(argc, argv, options))
        return status < 0 ? 0 : status;

    // Signals are taken by one thread that stops the server; every other thread blocks them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

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

    std::thread signalWaiter([&server, &sim, signals] {
        int received = 0;
        sigwait(&signals, &received);
        sim.stop();
        server.stop();
    });

    std::printf("listening on %s\n", address.c_str());
    std::fflush(stdout);
    const bool ok = server.listen_after_bind();
    sim.stop();
    // Wake the signal thread if the server ended on its own; once it has taken a signal this one
    // stays pending, blocked everywhere, and is harmless.
    kill(getpid(), SIGTERM);
    signalWaiter.join();
    return ok ? 0 : 1;
}
