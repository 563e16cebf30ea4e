#include "adapters/zigbee2mqtt/zigbee2mqtt_devices.h"

#include "core/text/log_text.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <set>

namespace glowcast {

namespace {

// zigbee2mqtt's colour-temperature ranges lie well inside 50..1000 mired (20000 K to 1000 K).
constexpr double kLowestMired = 50;
constexpr double kHighestMired = 1000;

QJsonDocument parse(std::string_view json)
{
    return QJsonDocument::fromJson(QByteArray(json.data(), static_cast<qsizetype>(json.size())));
}

std::string text(const QJsonValue& value)
{
    return value.toString().toStdString();
}

void put(std::string& out, double number, int decimals)
{
    std::array<char, 32> digits{};
    const auto end = decimals < 0 ? std::to_chars(digits.data(), digits.data() + digits.size(), number).ptr
                                  : std::to_chars(digits.data(), digits.data() + digits.size(), number,
                                                  std::chars_format::fixed, decimals)
                                        .ptr;
    out.append(digits.data(), end);
}

// A member name; property names come from the device list, so they may hold anything.
void putName(std::string& out, std::string_view name)
{
    if (out.back() != '{')
        out += ',';
    appendJsonString(out, name);
    out += ':';
}

std::optional<MiredRange> miredRangeOf(const QJsonObject& feature)
{
    const double lowest = feature[QStringLiteral("value_min")].toDouble(-1);
    const double highest = feature[QStringLiteral("value_max")].toDouble(-1);
    if (lowest < kLowestMired || highest > kHighestMired || lowest > highest || lowest != std::floor(lowest) ||
        highest != std::floor(highest))
        return std::nullopt;
    return MiredRange{static_cast<int>(lowest), static_cast<int>(highest)};
}

// One light expose: its features' properties and what they make of its capabilities.
Zigbee2MqttLamp lightOf(const QJsonObject& expose)
{
    Zigbee2MqttLamp lamp;
    bool colour = false;
    bool temperature = false;
    bool dims = false;
    for (const QJsonValue featureValue : expose[QStringLiteral("features")].toArray()) {
        const QJsonObject feature = featureValue.toObject();
        const QString name = feature[QStringLiteral("name")].toString();
        const std::string property = text(feature[QStringLiteral("property")]);
        if (property.empty())
            continue;
        if (name == u"state") {
            lamp.stateProperty = property;
        } else if (name == u"brightness") {
            lamp.brightnessProperty = property;
            dims = true;
        } else if (name == u"color_temp") {
            lamp.colourTemperatureProperty = property;
            lamp.capabilities.mireds = miredRangeOf(feature);
            temperature = true;
        } else if ((name == u"color_xy" || name == u"color_hs") && !colour) {
            lamp.colourProperty = property;
            lamp.hueSaturation = name == u"color_hs";
            colour = true;
        }
    }
    lamp.capabilities.kind = colour && temperature ? LampKind::ExtendedColour
                             : colour              ? LampKind::Colour
                             : temperature         ? LampKind::ColourTemperature
                             : dims                ? LampKind::Dimmable
                                                   : LampKind::OnOff;
    return lamp;
}

// The lamps of one device: a lamp per light expose, each endpoint's named after it.
std::vector<Zigbee2MqttLamp> lightsOf(const QJsonObject& device, const std::string& key, const std::string& name)
{
    std::vector<Zigbee2MqttLamp> lamps;
    const QJsonObject definition = device[QStringLiteral("definition")].toObject();
    for (const QJsonValue exposeValue : definition[QStringLiteral("exposes")].toArray()) {
        const QJsonObject expose = exposeValue.toObject();
        if (expose[QStringLiteral("type")].toString() != u"light")
            continue;
        Zigbee2MqttLamp lamp = lightOf(expose);
        const std::string endpoint = text(expose[QStringLiteral("endpoint")]);
        lamp.key = endpoint.empty() ? key : key + "-" + endpoint;
        lamp.name = endpoint.empty() ? name : name + " (" + endpoint + ")";
        lamp.friendlyName = name;
        lamps.push_back(std::move(lamp));
    }
    return lamps;
}

} // namespace

bool isTopicName(std::string_view name)
{
    if (name.empty() || name.front() == '/' || name.back() == '/' || name.find("//") != std::string_view::npos)
        return false;
    // Topics of zigbee2mqtt's own, or a device's requests, never a device.
    if (name == "bridge" || name.starts_with("bridge/") || name.ends_with("/set") || name.ends_with("/get") ||
        name.ends_with("/availability"))
        return false;
    return std::ranges::none_of(name, [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return c == '+' || c == '#' || byte < 0x20 || byte == 0x7f;
    });
}

std::optional<std::vector<Zigbee2MqttLamp>> readZigbee2MqttDevices(std::string_view json, Log& log)
{
    const QJsonDocument document = parse(json);
    if (!document.isArray()) {
        log.write("zigbee2mqtt device list: not a JSON list, left alone");
        return std::nullopt;
    }
    const QJsonArray devices = document.array();
    if (static_cast<std::size_t>(devices.size()) > kMostZigbee2MqttDevices)
        log.write("zigbee2mqtt device list: " + std::to_string(devices.size()) + " devices, only the first " +
                  std::to_string(kMostZigbee2MqttDevices) + " read");
    std::vector<Zigbee2MqttLamp> lamps;
    std::set<std::string> names;
    std::set<std::string> keys;
    std::set<std::string> lampKeys;
    const qsizetype count = std::min(devices.size(), static_cast<qsizetype>(kMostZigbee2MqttDevices));
    for (qsizetype i = 0; i < count; ++i) {
        const QJsonObject device = devices[i].toObject();
        const std::string key = text(device[QStringLiteral("ieee_address")]);
        const std::string name = text(device[QStringLiteral("friendly_name")]);
        const QJsonValue definition = device[QStringLiteral("definition")];
        if (!definition.isObject()) {
            if (device[QStringLiteral("type")].toString() != u"Coordinator")
                log.write("zigbee2mqtt device list: left out " + key + ": no definition");
            continue;
        }
        std::vector<Zigbee2MqttLamp> lights = lightsOf(device, key, name);
        if (lights.empty())
            continue;
        if (key.empty() || !isTopicName(name) || name.size() > 255) {
            log.write("zigbee2mqtt device list: left out " + key + ": its name cannot be a topic");
            continue;
        }
        if (names.contains(name) || keys.contains(key)) {
            log.write("zigbee2mqtt device list: left out " + key + ": the name '" + name + "' is taken");
            continue;
        }
        names.insert(name);
        keys.insert(key);
        for (Zigbee2MqttLamp& light : lights)
            if (lampKeys.insert(light.key).second) // a second light without an endpoint is the first one again
                lamps.push_back(std::move(light));
    }
    return lamps;
}

std::string zigbee2MqttSetPayload(const Zigbee2MqttLamp& lamp, const LampState& state)
{
    std::string out = "{";
    if (state.switchOn) {
        putName(out, lamp.stateProperty);
        out += "\"ON\"";
    }
    if (state.brightness && lamp.brightnessProperty) {
        putName(out, *lamp.brightnessProperty);
        out += std::to_string(std::clamp(*state.brightness, 1, 254));
    }
    if (state.chromaticity && lamp.colourProperty) {
        putName(out, *lamp.colourProperty);
        if (lamp.hueSaturation) {
            const HueSaturation colour = hueSaturationOf(*state.chromaticity);
            out += "{\"hue\":" + std::to_string(colour.hue) + ",\"saturation\":" + std::to_string(colour.saturation);
        } else {
            out += "{\"x\":";
            put(out, state.chromaticity->x, 4);
            out += ",\"y\":";
            put(out, state.chromaticity->y, 4);
        }
        out += "}";
    } else if (state.mired && lamp.colourTemperatureProperty) {
        putName(out, *lamp.colourTemperatureProperty);
        out += std::to_string(*state.mired);
    }
    if (state.fadeTenths) {
        putName(out, "transition");
        put(out, *state.fadeTenths / 10.0, -1);
    }
    return out + "}";
}

std::string zigbee2MqttRestorePayload(const Zigbee2MqttLamp& lamp, const ReadLampState& state)
{
    if (!state.on) {
        std::string out = "{";
        putName(out, lamp.stateProperty);
        return out + "\"OFF\"}";
    }
    LampState shown = state.shown;
    shown.switchOn = false;
    return zigbee2MqttSetPayload(lamp, shown);
}

std::optional<ReadLampState> readZigbee2MqttState(const Zigbee2MqttLamp& lamp, std::string_view json)
{
    const QJsonObject message = parse(json).object();
    const QString on = message[QString::fromStdString(lamp.stateProperty)].toString();
    if (on != u"ON" && on != u"OFF")
        return std::nullopt;
    ReadLampState state;
    state.on = on == u"ON";
    if (lamp.brightnessProperty)
        if (const QJsonValue brightness = message[QString::fromStdString(*lamp.brightnessProperty)];
            brightness.isDouble())
            state.shown.brightness = std::clamp(brightness.toInt(), 1, 254);
    const bool temperatureMode = message[QStringLiteral("color_mode")].toString() == u"color_temp";
    const QJsonObject colour =
        lamp.colourProperty ? message[QString::fromStdString(*lamp.colourProperty)].toObject() : QJsonObject();
    const QJsonValue hue = colour[QStringLiteral("hue")];
    const QJsonValue saturation = colour[QStringLiteral("saturation")];
    if (!temperatureMode && colour[QStringLiteral("x")].isDouble() && colour[QStringLiteral("y")].isDouble())
        state.shown.chromaticity =
            Chromaticity{colour[QStringLiteral("x")].toDouble(), colour[QStringLiteral("y")].toDouble()};
    else if (!temperatureMode && hue.isDouble() && saturation.isDouble())
        state.shown.chromaticity =
            chromaticityOf({static_cast<int>(std::lround(std::clamp(hue.toDouble(), 0.0, 359.0))),
                            static_cast<int>(std::lround(std::clamp(saturation.toDouble(), 0.0, 100.0)))});
    else if (lamp.colourTemperatureProperty)
        if (const QJsonValue mired = message[QString::fromStdString(*lamp.colourTemperatureProperty)]; mired.isDouble())
            state.shown.mired = mired.toInt();
    return state;
}

std::optional<bool> readOnline(std::string_view payload)
{
    QString word = QString::fromUtf8(payload.data(), static_cast<qsizetype>(payload.size())).trimmed();
    if (word.startsWith(u'{'))
        word = parse(payload).object()[QStringLiteral("state")].toString();
    if (word == u"online")
        return true;
    if (word == u"offline")
        return false;
    return std::nullopt;
}

HueSaturation hueSaturationOf(Chromaticity point)
{
    if (!(point.y > 0.0))
        return {};
    // The colour of luminance 1 at the point, in linear sRGB (D65), negatives (outside sRGB) cut to 0,
    // then scaled to its largest part and gamma-encoded as a display shows it.
    const double x = point.x / point.y;
    const double z = (1.0 - point.x - point.y) / point.y;
    std::array<double, 3> rgb{3.2406 * x - 1.5372 - 0.4986 * z, -0.9689 * x + 1.8758 + 0.0415 * z,
                              0.0557 * x - 0.2040 + 1.0570 * z};
    const double largest = std::ranges::max(rgb);
    if (!(largest > 0.0))
        return {};
    // Parts under half a percent of the largest are the rounding of the matrix: the display's own
    // primaries come out pure.
    for (double& part : rgb)
        part = part < 0.005 * largest ? 0.0 : std::pow(part / largest, 1.0 / 2.2);
    const double smallest = std::ranges::min(rgb);
    const double spread = 1.0 - smallest; // the largest part is 1
    if (std::lround(spread * 100.0) == 0)
        return {0, 0};
    double hue = 0.0;
    if (rgb[0] >= rgb[1] && rgb[0] >= rgb[2])
        hue = 60.0 * std::fmod((rgb[1] - rgb[2]) / spread + 6.0, 6.0);
    else if (rgb[1] >= rgb[2])
        hue = 60.0 * ((rgb[2] - rgb[0]) / spread + 2.0);
    else
        hue = 60.0 * ((rgb[0] - rgb[1]) / spread + 4.0);
    return {static_cast<int>(std::lround(hue)) % 360, static_cast<int>(std::lround(spread * 100.0))};
}

Chromaticity chromaticityOf(HueSaturation colour)
{
    // The display's colour at full value, its parts decoded to linear light, then to XYZ (sRGB, D65).
    const double spread = colour.saturation / 100.0;
    const double sector = std::fmod(colour.hue / 60.0, 6.0);
    const double rising = 1.0 - spread * (1.0 - std::fmod(sector, 1.0)); // the part that grows within the sector
    const double falling = 1.0 - spread * std::fmod(sector, 1.0);
    const double low = 1.0 - spread;
    std::array<double, 3> rgb{};
    switch (static_cast<int>(sector)) {
    case 0:
        rgb = {1.0, rising, low};
        break;
    case 1:
        rgb = {falling, 1.0, low};
        break;
    case 2:
        rgb = {low, 1.0, rising};
        break;
    case 3:
        rgb = {low, falling, 1.0};
        break;
    case 4:
        rgb = {rising, low, 1.0};
        break;
    default:
        rgb = {1.0, low, falling};
        break;
    }
    for (double& part : rgb)
        part = std::pow(part, 2.2);
    const double x = 0.4124 * rgb[0] + 0.3576 * rgb[1] + 0.1805 * rgb[2];
    const double y = 0.2126 * rgb[0] + 0.7152 * rgb[1] + 0.0722 * rgb[2];
    const double z = 0.0193 * rgb[0] + 0.1192 * rgb[1] + 0.9505 * rgb[2];
    return {x / (x + y + z), y / (x + y + z)};
}

} // namespace glowcast
