// glowcast-wled-sim: a stand-in for a WLED LED strip controller's JSON interface, written from its public
// API documentation, for tests, the demo and users without a strip.

#include "adapters/qt/program_command_line.h"
#include "sim_page/serving.h"
#include "sim_page/swatch_page.h"

#include <httplib.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>
#include <unistd.h>

namespace {

const char* const kDescription =
    "A stand-in for a WLED device: serves GET /json/state, /json/info and /json with segments, merges a\n"
    "POST /json/state (or /json) into its state as the device does (top-level on, bri, transition; each\n"
    "\"seg\" entry by its id: on, bri, col, fx, pal, sx, ix, n) and prints each one as a line\n"
    "\"POST PATH BODY\" on standard output. The first line is \"listening on HOST:PORT\".\n"
    "Segments in turn: RGB, RGBW, white only, colour temperature (white only); then again.\n"
    "--hostile makes every answer but /json/info one a device must never give: html (a web page), huge (50 MB),\n"
    "deep (lists nested 10,000 deep), control (segment names with control characters).\n"
    "--latency MS applies and answers each POST MS ms after it arrives, as a slow device does.\n"
    "GET / shows the segments in their colours.";

constexpr int kRgb = 1;
constexpr int kWhite = 2;
constexpr int kCct = 4;
constexpr int kSegmentLength = 10;

struct Options {
    std::string host = "127.0.0.1";
    int port = 0;
    int segments = 4;
    int latency = 0;
    std::string hostile;
};

std::optional<int> parseOptions(int argc, char** argv, Options& options)
{
    glowcast::ProgramCommandLine commandLine(QStringLiteral("glowcast-wled-sim"), QString::fromUtf8(kDescription));
    QCommandLineParser& parser = commandLine.parser;
    const QCommandLineOption host(QStringLiteral("host"), QStringLiteral("Address to listen on (default 127.0.0.1)."),
                                  QStringLiteral("ADDRESS"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Port to listen on; 0 (the default) picks a free one."),
                                  QStringLiteral("PORT"));
    const QCommandLineOption segments(QStringLiteral("segments"), QStringLiteral("Segments, 0..64 (default 4)."),
                                      QStringLiteral("N"));
    const QCommandLineOption hostile(QStringLiteral("hostile"), QStringLiteral("html, huge, deep or control."),
                                     QStringLiteral("KIND"));
    const QCommandLineOption latency(QStringLiteral("latency"),
                                     QStringLiteral("Take each POST MS ms late, 0..10000 (default 0)."),
                                     QStringLiteral("MS"));
    parser.addOptions({host, port, segments, hostile, latency});
    if (const std::optional<int> status = commandLine.parse(argc, argv))
        return status;
    const auto whole = [&](const QCommandLineOption& option, int highest, int& out) {
        bool ok = false;
        const int value = parser.value(option).toInt(&ok);
        if (!ok || value < 0 || value > highest)
            return false;
        out = value;
        return true;
    };
    const auto refuse = [&](const QCommandLineOption& option) {
        return commandLine.refuse(
            QStringLiteral("bad value for --%1: '%2'").arg(option.names().constFirst(), parser.value(option)));
    };
    if (parser.isSet(host))
        options.host = parser.value(host).toStdString();
    if (parser.isSet(port) && !whole(port, 65535, options.port))
        return refuse(port);
    if (parser.isSet(segments) && !whole(segments, 64, options.segments))
        return refuse(segments);
    if (parser.isSet(latency) && !whole(latency, 10'000, options.latency))
        return refuse(latency);
    if (parser.isSet(hostile)) {
        options.hostile = parser.value(hostile).toStdString();
        if (options.hostile != "html" && options.hostile != "huge" && options.hostile != "deep" &&
            options.hostile != "control")
            return refuse(hostile);
    }
    return std::nullopt;
}

int capabilitiesOf(int index)
{
    const int kinds[] = {kRgb, kRgb | kWhite, kWhite, kWhite | kCct};
    return kinds[index % 4];
}

QJsonArray colour(int red, int green, int blue, bool white)
{
    QJsonArray channels{red, green, blue};
    if (white)
        channels.append(0);
    return channels;
}

// The device: its state and what its LEDs can show. Every handler takes the lock.
class Device {
public:
    explicit Device(const Options& options) : m_hostile(options.hostile), m_latency(options.latency)
    {
        QJsonArray segments;
        for (int index = 0; index < options.segments; ++index) {
            const bool white = (capabilitiesOf(index) & kWhite) != 0;
            QJsonObject segment{{QStringLiteral("id"), index},
                                {QStringLiteral("start"), index * kSegmentLength},
                                {QStringLiteral("stop"), (index + 1) * kSegmentLength},
                                {QStringLiteral("len"), kSegmentLength},
                                {QStringLiteral("on"), true},
                                {QStringLiteral("bri"), 128 + index},
                                {QStringLiteral("col"), QJsonArray{colour(255, 160, 0, white), colour(0, 0, 0, white),
                                                                   colour(0, 0, 0, white)}},
                                {QStringLiteral("fx"), 9},
                                {QStringLiteral("sx"), 100 + index},
                                {QStringLiteral("ix"), 200 - index},
                                {QStringLiteral("pal"), 6},
                                {QStringLiteral("sel"), index == 0}};
            segment[QStringLiteral("n")] = m_hostile == "control" ? QStringLiteral("Strip\u0007\n%1").arg(index)
                                                                  : QStringLiteral("Strip %1").arg(index);
            segments.append(segment);
            m_capabilities.append(capabilitiesOf(index));
        }
        m_state = QJsonObject{{QStringLiteral("on"), true},      {QStringLiteral("bri"), 200},
                              {QStringLiteral("transition"), 7}, {QStringLiteral("ps"), -1},
                              {QStringLiteral("mainseg"), 0},    {QStringLiteral("seg"), segments}};
    }

    void handle(const httplib::Request& request, httplib::Response& response)
    {
        // A POST is taken, recorded and answered once the LEDs have changed.
        if (request.method == "POST")
            std::this_thread::sleep_for(m_latency);
        const std::lock_guard lock(m_mutex);
        if (request.method == "POST") {
            std::printf("POST %s %s\n", request.path.c_str(), request.body.c_str());
            std::fflush(stdout);
        }
        if (!m_hostile.empty() && m_hostile != "control" && request.path != "/json/info") {
            hostile(response);
            return;
        }
        if (request.method == "POST") {
            const QJsonDocument body = QJsonDocument::fromJson(QByteArray::fromStdString(request.body));
            if (!body.isObject()) {
                response.status = 400;
                response.set_content(R"({"error":9})", "application/json");
                return;
            }
            merge(body.object());
            response.set_content(R"({"success":true})", "application/json");
            return;
        }
        QJsonObject answer;
        if (request.path == "/json/state")
            answer = m_state;
        else if (request.path == "/json/info")
            answer = info();
        else
            answer = QJsonObject{{QStringLiteral("state"), m_state}, {QStringLiteral("info"), info()}};
        response.set_content(QJsonDocument(answer).toJson(QJsonDocument::Compact).toStdString(), "application/json");
    }

    // Each segment as its LEDs show it: the first colour slot of an RGB segment, white for one without RGB,
    // at the segment's and the device's brightness; off as black.
    std::string page()
    {
        const std::lock_guard lock(m_mutex);
        const double device =
            m_state[QStringLiteral("on")].toBool() ? m_state[QStringLiteral("bri")].toInt() / 255.0 : 0;
        std::vector<glowcast::sim::Swatch> swatches;
        const QJsonArray segments = m_state[QStringLiteral("seg")].toArray();
        for (qsizetype index = 0; index < segments.size(); ++index) {
            const QJsonObject segment = segments[index].toObject();
            const bool on = segment[QStringLiteral("on")].toBool();
            const int brightness = segment[QStringLiteral("bri")].toInt();
            const QJsonArray first = segment[QStringLiteral("col")].toArray().first().toArray();
            const bool rgb = (m_capabilities[index].toInt() & kRgb) != 0;
            const double level = on ? device * brightness / 255.0 : 0;
            const auto channel = [&](int at) {
                return static_cast<int>(std::lround(level * (rgb ? first[at].toInt() : 255)));
            };
            swatches.push_back({segment[QStringLiteral("n")].toString().toStdString(), channel(0), channel(1),
                                channel(2),
                                "segment " + std::to_string(index) +
                                    (on ? ", on, bri " + std::to_string(brightness) : std::string{", off"}) +
                                    (rgb ? "" : ", white only")});
        }
        return glowcast::sim::swatchPage("WLED stand-in", swatches);
    }

private:
    QJsonObject info() const
    {
        int all = 0;
        for (const QJsonValue each : m_capabilities)
            all |= each.toInt();
        return QJsonObject{
            {QStringLiteral("ver"), QStringLiteral("0.14.4")},
            {QStringLiteral("name"), QStringLiteral("WLED stand-in")},
            {QStringLiteral("mac"), QStringLiteral("02005e00a1ed")},
            {QStringLiteral("leds"), QJsonObject{{QStringLiteral("count"), m_capabilities.size() * kSegmentLength},
                                                 {QStringLiteral("rgbw"), (all & kWhite) != 0},
                                                 {QStringLiteral("cct"), (all & kCct) != 0},
                                                 {QStringLiteral("lc"), all},
                                                 {QStringLiteral("seglc"), m_capabilities},
                                                 {QStringLiteral("maxseg"), 64}}}};
    }

    // A partial state: what it names changes, everything else stays.
    void merge(const QJsonObject& change)
    {
        for (const char* key : {"on", "bri", "transition"})
            if (change.contains(QLatin1String(key)))
                m_state[QLatin1String(key)] = change[QLatin1String(key)];
        QJsonArray segments = m_state[QStringLiteral("seg")].toArray();
        for (const QJsonValue entry : change[QStringLiteral("seg")].toArray()) {
            const QJsonObject part = entry.toObject();
            for (qsizetype index = 0; index < segments.size(); ++index) {
                QJsonObject segment = segments[index].toObject();
                if (segment[QStringLiteral("id")] != part[QStringLiteral("id")])
                    continue;
                for (const char* key : {"on", "bri", "fx", "pal", "sx", "ix", "n"})
                    if (part.contains(QLatin1String(key)))
                        segment[QLatin1String(key)] = part[QLatin1String(key)];
                // Colour slots given replace those in their places; slots left out stay.
                QJsonArray slots = segment[QStringLiteral("col")].toArray();
                const QJsonArray given = part[QStringLiteral("col")].toArray();
                for (qsizetype slot = 0; slot < given.size() && slot < slots.size(); ++slot)
                    slots[slot] = given[slot];
                segment[QStringLiteral("col")] = slots;
                segments[index] = segment;
            }
        }
        m_state[QStringLiteral("seg")] = segments;
    }

    void hostile(httplib::Response& response) const
    {
        if (m_hostile == "html") {
            response.set_content("<!DOCTYPE html><html><body><h1>Router login</h1></body></html>",
                                 "text/html; charset=utf-8");
        } else if (m_hostile == "huge") {
            constexpr std::size_t kSize = std::size_t{50} << 20;
            response.set_content_provider(
                kSize, "application/json", [](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    const std::string chunk(std::min<std::size_t>(length, 65536), offset == 0 ? '{' : ' ');
                    return sink.write(chunk.data(), chunk.size());
                });
        } else {
            constexpr int kDepth = 10'000;
            response.set_content(R"({"seg":)" + std::string(kDepth, '[') + std::string(kDepth, ']') + "}",
                                 "application/json");
        }
    }

    std::mutex m_mutex;
    std::string m_hostile;
    std::chrono::milliseconds m_latency;
    QJsonObject m_state;
    QJsonArray m_capabilities;
};

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (const std::optional<int> status = parseOptions(argc, argv, options))
        return *status;

    const sigset_t signals = glowcast::sim::blockStopSignals();

    Device device{options};
    httplib::Server server;
    server.set_payload_max_length(1u << 20);
    server.set_tcp_nodelay(true);
    // One request a connection, as a small device serves them; a stop then waits for no idle connection.
    server.set_keep_alive_max_count(1);
    const auto handle = [&device](const httplib::Request& request, httplib::Response& response) {
        device.handle(request, response);
    };
    server.Get("/", [&device](const httplib::Request&, httplib::Response& response) {
        response.set_content(device.page(), "text/html; charset=utf-8");
    });
    for (const char* path : {"/json", "/json/state", "/json/info"})
        server.Get(path, handle);
    for (const char* path : {"/json", "/json/state"})
        server.Post(path, handle);

    const int port = options.port == 0 ? server.bind_to_any_port(options.host)
                                       : (server.bind_to_port(options.host, options.port) ? options.port : -1);
    if (port < 0) {
        std::fprintf(stderr, "glowcast-wled-sim: cannot listen on %s:%d\n", options.host.c_str(), options.port);
        return 1;
    }
    return glowcast::sim::serveUntilSignalled(server, signals, options.host + ":" + std::to_string(port)) ? 0 : 1;
}
