#include "adapters/wled/wled_json.h"

#include "core/colour/srgb.h"
#include "core/text/log_text.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <set>

namespace glowcast {

namespace {

constexpr int kHighestSegmentId = 255;
constexpr int kRgb = 1;
constexpr int kWhiteChannel = 2;

QJsonDocument parse(std::string_view json)
{
    // Deeper nesting than Qt takes, or anything that is no JSON, is no document.
    return QJsonDocument::fromJson(QByteArray(json.data(), static_cast<qsizetype>(json.size())));
}

// A whole number in 0..highest, else nothing.
std::optional<int> wholeIn(const QJsonValue& value, int highest)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number != std::floor(number) || number < 0 || number > highest)
        return std::nullopt;
    return static_cast<int>(number);
}

bool hasControlCharacter(const QString& text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

// A colour slot as [r,g,b] or [r,g,b,w], each 0..255; nothing for anything else (a hex text, a short list).
std::optional<std::vector<int>> slotOf(const QJsonValue& value)
{
    const QJsonArray channels = value.toArray();
    if (!value.isArray() || channels.size() < 3 || channels.size() > 4)
        return std::nullopt;
    std::vector<int> slot;
    for (const QJsonValue channel : channels) {
        const std::optional<int> level = wholeIn(channel, 255);
        if (!level)
            return std::nullopt;
        slot.push_back(*level);
    }
    return slot;
}

void putInt(std::string& out, std::string_view name, int value)
{
    out += out.back() == '{' ? "\"" : ",\"";
    out += name;
    out += "\":";
    out += std::to_string(value);
}

// 1..254, the lamp state's range, spread over WLED's 1..255.
int wledBrightness(int brightness)
{
    return static_cast<int>(std::lround(std::clamp(brightness, 1, 254) * 255.0 / 254.0));
}

} // namespace

std::optional<std::vector<WledSegment>> readWledSegments(std::string_view json, Log& log, const std::string& systemId)
{
    const QJsonDocument document = parse(json);
    const QJsonValue list = document.object()[QStringLiteral("seg")];
    if (!document.isObject() || !list.isArray())
        return std::nullopt;
    std::vector<WledSegment> segments;
    std::set<int> ids;
    const QJsonArray entries = list.toArray();
    for (qsizetype index = 0; index < entries.size(); ++index) {
        const std::string where = "lamp system " + systemId + ": segment " + std::to_string(index);
        if (segments.size() == kMostWledSegments) {
            log.write(logLine("lamp system " + systemId + ": " + std::to_string(entries.size() - index) +
                              " segments past the first " + std::to_string(kMostWledSegments) + " left out"));
            break;
        }
        const QJsonObject entry = entries[index].toObject();
        const std::optional<int> id = wholeIn(entry[QStringLiteral("id")], kHighestSegmentId);
        if (!entries[index].isObject() || !id) {
            log.write(logLine(where + " has no id; left out"));
            continue;
        }
        if (!ids.insert(*id).second) {
            log.write(logLine(where + " has the id " + std::to_string(*id) + " of another; left out"));
            continue;
        }
        WledSegment segment;
        segment.id = *id;
        const QString name = entry[QStringLiteral("n")].toString();
        segment.name = "Segment " + std::to_string(*id);
        if (hasControlCharacter(name))
            log.write(logLine(where + "'s name \"" + name.toStdString() + "\" has a control character; shown as " +
                              segment.name));
        else if (!name.isEmpty())
            segment.name = name.toStdString();
        segment.on = entry[QStringLiteral("on")].toBool();
        segment.brightness = wholeIn(entry[QStringLiteral("bri")], 255).value_or(255);
        segment.effect = wholeIn(entry[QStringLiteral("fx")], 255).value_or(0);
        segment.palette = wholeIn(entry[QStringLiteral("pal")], 255).value_or(0);
        segment.speed = wholeIn(entry[QStringLiteral("sx")], 255).value_or(128);
        segment.intensity = wholeIn(entry[QStringLiteral("ix")], 255).value_or(128);
        for (const QJsonValue slot : entry[QStringLiteral("col")].toArray())
            if (std::optional<std::vector<int>> channels = slotOf(slot); channels && segment.colours.size() < 3)
                segment.colours.push_back(std::move(*channels));
        segments.push_back(std::move(segment));
    }
    return segments;
}

std::optional<WledInfo> readWledInfo(std::string_view json)
{
    const QJsonDocument document = parse(json);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject leds = document.object()[QStringLiteral("leds")].toObject();
    WledInfo info;
    info.capabilities = wholeIn(leds[QStringLiteral("lc")], 255);
    for (const QJsonValue each : leds[QStringLiteral("seglc")].toArray()) {
        if (info.segmentCapabilities.size() == kMostWledSegments)
            break;
        info.segmentCapabilities.push_back(wholeIn(each, 255).value_or(kRgb));
    }
    const QString mac = document.object()[QStringLiteral("mac")].toString().toLower();
    if (mac.size() == 12 && std::ranges::all_of(mac, [](QChar c) { return c.isDigit() || (c >= u'a' && c <= u'f'); }))
        info.mac = mac.toStdString();
    return info;
}

WledLamp wledLampOf(const WledSegment& segment, std::size_t index, const WledInfo& info)
{
    const int capabilities =
        index < info.segmentCapabilities.size() ? info.segmentCapabilities[index] : info.capabilities.value_or(kRgb);
    WledLamp lamp;
    lamp.id = segment.id;
    lamp.colour = (capabilities & kRgb) != 0;
    lamp.white = lamp.colour && (capabilities & kWhiteChannel) != 0;
    lamp.lamp.key = std::to_string(segment.id);
    lamp.lamp.name = segment.name;
    lamp.lamp.capabilities = lamp.colour ? LampCapabilities{LampKind::Colour, kSrgbGamut, std::nullopt}
                                         : LampCapabilities{LampKind::Dimmable, std::nullopt, std::nullopt};
    return lamp;
}

std::string wledCoverBody(const std::vector<WledCommand>& commands, bool soundReactive)
{
    // Each colour lamp's colour, in the body's order: with sound-reactive effects a segment shows the
    // cover's other colours in its second and third slots.
    std::vector<std::optional<RgbBytes>> colours;
    for (const auto& [lamp, state] : commands) {
        std::optional<Chromaticity> point = state.chromaticity;
        if (!point && state.mired && *state.mired > 0)
            point = blackBodyChromaticity(1e6 / *state.mired);
        colours.push_back(lamp.colour && point ? std::optional{rgbBytesAtFullValue(*point)} : std::nullopt);
    }
    std::vector<RgbBytes> distinct;
    for (const std::optional<RgbBytes>& colour : colours)
        if (colour && std::ranges::find(distinct, *colour) == distinct.end())
            distinct.push_back(*colour);
    const auto slot = [](const RgbBytes& rgb, bool white) {
        return "[" + std::to_string(rgb.red) + "," + std::to_string(rgb.green) + "," + std::to_string(rgb.blue) +
               (white ? ",0" : "") + "]";
    };

    std::string out = "{\"seg\":[";
    for (std::size_t index = 0; index < commands.size(); ++index) {
        const auto& [lamp, state] = commands[index];
        out += out.back() == '[' ? "{" : ",{";
        putInt(out, "id", lamp.id);
        if (state.switchOn)
            out += ",\"on\":true";
        if (state.brightness)
            putInt(out, "bri", wledBrightness(*state.brightness));
        if (const std::optional<RgbBytes>& own = colours[index]) {
            if (!soundReactive)
                putInt(out, "fx", 0);
            out += ",\"col\":[" + slot(*own, lamp.white);
            const auto at = std::ranges::find(distinct, *own) - distinct.begin();
            for (std::size_t next = 1; soundReactive && next < std::min<std::size_t>(distinct.size(), 3); ++next)
                out += "," + slot(distinct[(static_cast<std::size_t>(at) + next) % distinct.size()], lamp.white);
            out += "]";
        }
        out += '}';
    }
    out += ']';
    if (!commands.empty() && commands.front().state.fadeTenths)
        putInt(out, "tt", std::clamp(*commands.front().state.fadeTenths, 0, 65'535));
    return out + '}';
}

std::string wledRestoreBody(const WledSegment& segment)
{
    std::string out = "{\"seg\":[{";
    putInt(out, "id", segment.id);
    out += segment.on ? ",\"on\":true" : ",\"on\":false";
    putInt(out, "bri", segment.brightness);
    if (!segment.colours.empty()) {
        out += ",\"col\":[";
        for (const std::vector<int>& slot : segment.colours) {
            out += out.back() == '[' ? "[" : ",[";
            for (std::size_t channel = 0; channel < slot.size(); ++channel)
                out += (channel == 0 ? "" : ",") + std::to_string(slot[channel]);
            out += ']';
        }
        out += ']';
    }
    putInt(out, "fx", segment.effect);
    putInt(out, "pal", segment.palette);
    putInt(out, "sx", segment.speed);
    putInt(out, "ix", segment.intensity);
    return out + "}]}";
}

} // namespace glowcast
