// glowcast-homeassistant-sim: a stand-in for Home Assistant's REST interface and its lights, for tests,
// the demo and users without Home Assistant. Written from the interface's public documentation.

#include "adapters/files/system_secrets.h"
#include "adapters/qt/program_command_line.h"
#include "core/colour/srgb.h"
#include "sim_page/serving.h"
#include "sim_page/swatch_page.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <httplib.h>

#include <algorithm>
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
    "A stand-in for Home Assistant's REST interface: GET /api/states and /api/states/<entity_id> serve\n"
    "lights of several colour modes, POST /api/services/light/turn_on and turn_off apply their data and\n"
    "record it as a line \"SERVICE DATA\" on standard output (or appended to --record FILE). Every /api\n"
    "request needs \"Authorization: Bearer TOKEN\" with the token of --token-file; without it the answer\n"
    "is 401. Stricter than the real one: data a light's colour modes cannot take is refused with 400.\n"
    "--latency MS applies and answers each service call MS ms after it arrives, as a slow one does.\n"
    "Lights in turn: hue-and-saturation colour with colour temperature, xy colour, colour temperature,\n"
    "dimmable (off), on/off, unavailable; then again, numbered. GET / shows them.\n"
    "The first line on standard output is \"listening on HOST:PORT\".";

struct Light {
    std::string entityId;
    std::string name;
    std::vector<std::string> modes;
    std::string state = "on";
    std::string colourMode;
    int brightness = 180;
    double x = 0.45;
    double y = 0.41;
    int kelvin = 3000;
};

bool takesColour(const Light& light)
{
    return std::ranges::any_of(light.modes, [](const std::string& mode) { return mode == "hs" || mode == "xy"; });
}

bool takesTemperature(const Light& light)
{
    return std::ranges::find(light.modes, "color_temp") != light.modes.end();
}

bool dims(const Light& light)
{
    return light.modes != std::vector<std::string>{"onoff"};
}

std::vector<Light> makeLights(int count)
{
    const char* const names[] = {"Living room", "Desk strip", "Hall", "Bedside", "Porch", "Garage"};
    const char* const ids[] = {"living_room", "desk_strip", "hall", "bedside", "porch", "garage"};
    const std::vector<std::string> modes[] = {{"color_temp", "hs"}, {"xy"},    {"color_temp"},
                                              {"brightness"},       {"onoff"}, {"xy"}};
    std::vector<Light> lights;
    for (int i = 0; i < count; ++i) {
        const int kind = i % 6;
        const std::string round = i < 6 ? std::string{} : "_" + std::to_string(i / 6 + 1);
        Light light;
        light.entityId = std::string{"light."} + ids[kind] + round;
        light.name = std::string{names[kind]} + (i < 6 ? "" : " " + std::to_string(i / 6 + 1));
        light.modes = modes[kind];
        light.colourMode = kind == 2   ? "color_temp"
                           : kind == 3 ? "brightness"
                           : kind == 4 ? "onoff"
                                       : modes[kind].back();
        if (kind == 3)
            light.state = "off";
        if (kind == 5)
            light.state = "unavailable";
        lights.push_back(light);
    }
    return lights;
}

QJsonObject stateOf(const Light& light)
{
    QJsonArray modes;
    for (const std::string& mode : light.modes)
        modes.append(QString::fromStdString(mode));
    QJsonObject attributes{{QStringLiteral("friendly_name"), QString::fromStdString(light.name)},
                           {QStringLiteral("supported_color_modes"), modes}};
    if (takesTemperature(light)) {
        attributes[QStringLiteral("min_color_temp_kelvin")] = 2000;
        attributes[QStringLiteral("max_color_temp_kelvin")] = 6535;
    }
    if (light.state == "on") {
        attributes[QStringLiteral("color_mode")] = QString::fromStdString(light.colourMode);
        if (dims(light))
            attributes[QStringLiteral("brightness")] = light.brightness;
        if (light.colourMode == "color_temp")
            attributes[QStringLiteral("color_temp_kelvin")] = light.kelvin;
        else if (takesColour(light))
            attributes[QStringLiteral("xy_color")] = QJsonArray{light.x, light.y};
    }
    return {{QStringLiteral("entity_id"), QString::fromStdString(light.entityId)},
            {QStringLiteral("state"), QString::fromStdString(light.state)},
            {QStringLiteral("attributes"), attributes},
            {QStringLiteral("last_changed"), QStringLiteral("2026-01-01T00:00:00+00:00")}};
}

// Applies a service's data; the reason it cannot, else nothing.
std::optional<std::string> apply(Light& light, const std::string& service, const QJsonObject& data)
{
    if (light.state == "unavailable")
        return "the light is unavailable";
    if (service == "turn_off") {
        light.state = "off";
        return std::nullopt;
    }
    if (data.contains(QStringLiteral("xy_color"))) {
        const QJsonArray xy = data.value(QStringLiteral("xy_color")).toArray();
        if (!takesColour(light) || xy.size() != 2)
            return "xy_color is not for this light";
        light.x = xy[0].toDouble();
        light.y = xy[1].toDouble();
        light.colourMode = light.modes.back();
    }
    if (data.contains(QStringLiteral("color_temp_kelvin"))) {
        if (!takesTemperature(light))
            return "color_temp_kelvin is not for this light";
        light.kelvin = std::clamp(data.value(QStringLiteral("color_temp_kelvin")).toInt(), 2000, 6535);
        light.colourMode = "color_temp";
    }
    if (data.contains(QStringLiteral("brightness"))) {
        const int brightness = data.value(QStringLiteral("brightness")).toInt(-1);
        if (!dims(light) || brightness < 0 || brightness > 255)
            return "brightness is not for this light";
        if (brightness == 0) {
            light.state = "off";
            return std::nullopt;
        }
        light.brightness = brightness;
    }
    light.state = "on";
    return std::nullopt;
}

// Each light as the page shows it: an xy colour at its brightness, a colour temperature as a warm or
// cool white, brightness alone as grey, on/off as white, off as black.
std::string page(const std::vector<Light>& lights)
{
    std::vector<glowcast::sim::Swatch> swatches;
    for (const Light& light : lights) {
        glowcast::sim::Swatch swatch{light.name + " (" + light.entityId + ")",
                                     255,
                                     255,
                                     255,
                                     light.state + (light.state == "on" ? ", " + light.colourMode : ""),
                                     light.state == "unavailable"};
        if (light.colourMode == "color_temp") {
            const double warm = std::clamp((6500.0 - light.kelvin) / 4500.0, 0.0, 1.0);
            swatch.green = static_cast<int>(std::lround(255 * (1 - 0.3 * warm)));
            swatch.blue = static_cast<int>(std::lround(255 * (1 - 0.7 * warm)));
            swatch.detail += " " + std::to_string(light.kelvin) + " K";
        } else if (takesColour(light)) {
            const glowcast::RgbBytes rgb = glowcast::rgbBytesAtFullValue({light.x, light.y});
            swatch.red = rgb.red;
            swatch.green = rgb.green;
            swatch.blue = rgb.blue;
        }
        const double level = light.state != "on" ? 0.0 : dims(light) ? light.brightness / 255.0 : 1.0;
        for (int* channel : {&swatch.red, &swatch.green, &swatch.blue})
            *channel = static_cast<int>(std::lround(*channel * level));
        if (light.state == "on" && dims(light))
            swatch.detail += ", brightness " + std::to_string(light.brightness);
        swatches.push_back(std::move(swatch));
    }
    return glowcast::sim::swatchPage("Home Assistant stand-in", swatches);
}

void json(httplib::Response& response, int status, const QJsonDocument& document)
{
    response.status = status;
    response.set_content(document.toJson(QJsonDocument::Compact).toStdString(), "application/json");
}

void message(httplib::Response& response, int status, const std::string& text)
{
    json(response, status, QJsonDocument(QJsonObject{{QStringLiteral("message"), QString::fromStdString(text)}}));
}

} // namespace

int main(int argc, char** argv)
{
    glowcast::ProgramCommandLine commandLine(QStringLiteral("glowcast-homeassistant-sim"),
                                             QString::fromUtf8(kDescription));
    QCommandLineParser& parser = commandLine.parser;
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Port on 127.0.0.1; 0 (the default) picks a free one."),
                                        QStringLiteral("PORT"), QStringLiteral("0"));
    const QCommandLineOption tokenOption(QStringLiteral("token-file"),
                                         QStringLiteral("The file holding the access token to accept (required)."),
                                         QStringLiteral("FILE"));
    const QCommandLineOption lightsOption(QStringLiteral("lights"), QStringLiteral("How many lights (default 6)."),
                                          QStringLiteral("N"), QStringLiteral("6"));
    const QCommandLineOption recordOption(QStringLiteral("record"),
                                          QStringLiteral("Append the service calls to FILE, not standard output."),
                                          QStringLiteral("FILE"));
    const QCommandLineOption latencyOption(QStringLiteral("latency"),
                                           QStringLiteral("Take each service call MS ms late, 0..10000 (default 0)."),
                                           QStringLiteral("MS"), QStringLiteral("0"));
    parser.addOptions({portOption, tokenOption, lightsOption, recordOption, latencyOption});
    if (const std::optional<int> status = commandLine.parse(argc, argv))
        return *status;
    bool numbers = true;
    bool number = false;
    const int port = parser.value(portOption).toInt(&number);
    numbers = numbers && number && port >= 0 && port <= 65535;
    const int count = parser.value(lightsOption).toInt(&number);
    numbers = numbers && number && count >= 0 && count <= 100'000;
    const int latency = parser.value(latencyOption).toInt(&number);
    numbers = numbers && number && latency >= 0 && latency <= 10'000;
    if (!numbers)
        return commandLine.refuse(QStringLiteral("bad value for --port, --lights or --latency"));
    if (!parser.isSet(tokenOption))
        return commandLine.refuse(QStringLiteral("--token-file is required"));
    const glowcast::PasswordRead token = glowcast::readPasswordFile(parser.value(tokenOption).toStdString());
    if (!token.password)
        return commandLine.refuse(QString::fromStdString("--token-file " + token.error));
    const std::string expected = "Bearer " + *token.password;
    FILE* record = stdout;
    if (parser.isSet(recordOption)) {
        record = std::fopen(parser.value(recordOption).toLocal8Bit().constData(), "a");
        if (record == nullptr)
            return commandLine.refuse(QStringLiteral("cannot open the --record file"));
    }

    const sigset_t signals = glowcast::sim::blockStopSignals();

    std::mutex mutex;
    std::vector<Light> lights = makeLights(count);
    const auto find = [&lights](const std::string& id) { return std::ranges::find(lights, id, &Light::entityId); };

    httplib::Server server;
    server.set_payload_max_length(1u << 20);
    server.set_tcp_nodelay(true);
    server.Get("/", [&](const httplib::Request&, httplib::Response& response) {
        const std::scoped_lock lock(mutex);
        response.set_content(page(lights), "text/html; charset=utf-8");
    });
    const auto authorised = [&expected](const httplib::Request& request, httplib::Response& response) {
        if (request.get_header_value("Authorization") == expected)
            return true;
        response.status = 401;
        response.set_content("401: Unauthorized", "text/plain");
        return false;
    };
    server.Get("/api/", [&](const httplib::Request& request, httplib::Response& response) {
        if (authorised(request, response))
            message(response, 200, "API running.");
    });
    server.Get("/api/states", [&](const httplib::Request& request, httplib::Response& response) {
        if (!authorised(request, response))
            return;
        const std::scoped_lock lock(mutex);
        QJsonArray states{QJsonObject{{QStringLiteral("entity_id"), QStringLiteral("sun.sun")},
                                      {QStringLiteral("state"), QStringLiteral("above_horizon")}}};
        for (const Light& light : lights)
            states.append(stateOf(light));
        json(response, 200, QJsonDocument(states));
    });
    server.Get(R"(/api/states/(.+))", [&](const httplib::Request& request, httplib::Response& response) {
        if (!authorised(request, response))
            return;
        const std::scoped_lock lock(mutex);
        const auto light = find(request.matches[1].str());
        if (light == lights.end())
            return message(response, 404, "Entity not found.");
        json(response, 200, QJsonDocument(stateOf(*light)));
    });
    server.Post(R"(/api/services/light/(turn_on|turn_off))",
                [&](const httplib::Request& request, httplib::Response& response) {
                    if (!authorised(request, response))
                        return;
                    // The call is taken, recorded and answered once the light has changed.
                    std::this_thread::sleep_for(std::chrono::milliseconds(latency));
                    const std::string service = request.matches[1].str();
                    const QJsonDocument body = QJsonDocument::fromJson(QByteArray::fromStdString(request.body));
                    const std::scoped_lock lock(mutex);
                    std::fprintf(record, "%s %s\n", service.c_str(), request.body.c_str());
                    std::fflush(record);
                    if (request.get_header_value("Content-Type") != "application/json" || !body.isObject())
                        return message(response, 400, "Invalid JSON specified.");
                    const auto light = find(body.object().value(QStringLiteral("entity_id")).toString().toStdString());
                    if (light == lights.end())
                        return message(response, 400, "Entity not found.");
                    if (const std::optional<std::string> refused = apply(*light, service, body.object()))
                        return message(response, 400, *refused);
                    json(response, 200, QJsonDocument(QJsonArray{stateOf(*light)}));
                });

    const int bound =
        port == 0 ? server.bind_to_any_port("127.0.0.1") : (server.bind_to_port("127.0.0.1", port) ? port : -1);
    if (bound < 0) {
        std::fprintf(stderr, "glowcast-homeassistant-sim: cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    return glowcast::sim::serveUntilSignalled(server, signals, "127.0.0.1:" + std::to_string(bound)) ? 0 : 1;
}
