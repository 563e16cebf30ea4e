#include "bridge_sim/lamp_rules.h"

#include "bridge_sim/json_text.h"

#include <QJsonArray>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>

namespace glowcast::sim {

namespace {

struct MiredRange {
    int min = 153;
    int max = 500;
};

// What a kind of lamp is and tells about itself. The model and product texts are the simulator's own.
struct KindInfo {
    LampKind kind;
    std::string_view name;
    std::string_view type; // the protocol's name for the kind
    std::string_view modelid;
    std::string_view productname;
    std::string_view gamutType;
    const Gamut* gamut;
    std::optional<MiredRange> mired;
    int maxlumen;
};

constexpr std::array<KindInfo, 5> kKinds{{
    {LampKind::ExtendedColour, "extended", "Extended color light", "GCSIM-X1", "Simulated extended colour lamp", "C",
     &kGamutC, MiredRange{153, 500}, 806},
    {LampKind::ColourA, "colour-a", "Color light", "GCSIM-A1", "Simulated colour lamp", "A", &kGamutA, std::nullopt,
     600},
    {LampKind::ColourB, "colour-b", "Color light", "GCSIM-B1", "Simulated colour lamp", "B", &kGamutB, std::nullopt,
     600},
    {LampKind::ColourTemperature, "temperature", "Color temperature light", "GCSIM-T1", "Simulated tunable white lamp",
     "", nullptr, MiredRange{153, 454}, 800},
    {LampKind::Dimmable, "dimmable", "Dimmable light", "GCSIM-D1", "Simulated dimmable lamp", "", nullptr, std::nullopt,
     800},
}};

const KindInfo& info(LampKind kind)
{
    return kKinds[static_cast<std::size_t>(kind)];
}

enum class Needs { Nothing, Colour, Temperature };

// Every state attribute, and what a lamp must have to take it.
const std::map<std::string, Needs, std::less<>> kAttributes = {
    {"on", Needs::Nothing},
    {"bri", Needs::Nothing},
    {"alert", Needs::Nothing},
    {"bri_inc", Needs::Nothing},
    {"transitiontime", Needs::Nothing},
    {"hue", Needs::Colour},
    {"sat", Needs::Colour},
    {"xy", Needs::Colour},
    {"effect", Needs::Colour},
    {"hue_inc", Needs::Colour},
    {"sat_inc", Needs::Colour},
    {"xy_inc", Needs::Colour},
    {"ct", Needs::Temperature},
    {"ct_inc", Needs::Temperature},
};

bool has(LampKind kind, Needs needs)
{
    if (needs == Needs::Colour)
        return info(kind).gamut != nullptr;
    return needs == Needs::Nothing || info(kind).mired.has_value();
}

// Applies a checked change and returns the value the lamp now holds, as JSON text.
using Change = std::function<std::string(Lamp&)>;

std::optional<int> whole(const QJsonValue& value, int low, int high)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number != std::floor(number) || number < low || number > high)
        return std::nullopt;
    return static_cast<int>(number);
}

std::optional<Xy> point(const QJsonValue& value, double low, double high)
{
    const QJsonArray pair = value.toArray();
    if (!value.isArray() || pair.size() != 2 || !pair[0].isDouble() || !pair[1].isDouble())
        return std::nullopt;
    const Xy xy{pair[0].toDouble(), pair[1].toDouble()};
    if (!(xy.x >= low && xy.x <= high && xy.y >= low && xy.y <= high))
        return std::nullopt;
    return xy;
}

std::optional<Change> number(const QJsonValue& value, int low, int high, std::function<std::string(Lamp&, int)> set)
{
    const std::optional<int> given = whole(value, low, high);
    if (!given)
        return std::nullopt;
    return Change{[set = std::move(set), n = *given](Lamp& lamp) { return set(lamp, n); }};
}

std::optional<Change> word(const QJsonValue& value, std::initializer_list<std::string_view> allowed,
                           std::string Lamp::*member)
{
    const std::string given = value.toString().toStdString();
    if (!value.isString() || std::find(allowed.begin(), allowed.end(), given) == allowed.end())
        return std::nullopt;
    return Change{[given, member](Lamp& lamp) { return jsonString(lamp.*member = given); }};
}

std::string xyText(Xy xy)
{
    return jsonArray({jsonNumber(xy.x), jsonNumber(xy.y)});
}

// The bridge keeps chromaticity to four decimals, and a colour lamp only what its gamut holds.
void holdXy(Lamp& lamp, Xy xy)
{
    if (const Gamut* gamut = info(lamp.kind).gamut)
        xy = nearestInGamut(xy, *gamut);
    lamp.xy = {std::round(xy.x * 1e4) / 1e4, std::round(xy.y * 1e4) / 1e4};
}

// Returns the hue and saturation held, each as JSON text.
std::pair<std::string, std::string> holdHueSat(Lamp& lamp, int hue, int sat)
{
    lamp.hue = (hue % 65536 + 65536) % 65536;
    lamp.sat = std::clamp(sat, 0, 254);
    lamp.colormode = "hs";
    holdXy(lamp, xyFromHueSat(lamp.hue, lamp.sat));
    return {std::to_string(lamp.hue), std::to_string(lamp.sat)};
}

std::string holdCt(Lamp& lamp, int ct)
{
    const MiredRange range = info(lamp.kind).mired.value_or(MiredRange{});
    lamp.ct = std::clamp(ct, range.min, range.max);
    lamp.colormode = "ct";
    holdXy(lamp, xyFromMired(lamp.ct));
    return std::to_string(lamp.ct);
}

std::optional<Change> parse(const Lamp& lamp, const std::string& key, const QJsonValue& value)
{
    if (key == "on") {
        if (!value.isBool())
            return std::nullopt;
        return Change{[on = value.toBool()](Lamp& l) { return jsonBool(l.on = on); }};
    }
    if (key == "bri")
        return number(value, 0, 255, [](Lamp& l, int n) { return std::to_string(l.bri = std::clamp(n, 1, 254)); });
    if (key == "hue")
        return number(value, 0, 65535, [](Lamp& l, int n) { return holdHueSat(l, n, l.sat).first; });
    if (key == "sat")
        return number(value, 0, 255, [](Lamp& l, int n) { return holdHueSat(l, l.hue, n).second; });
    if (key == "ct") {
        const MiredRange range = info(lamp.kind).mired.value_or(MiredRange{});
        return number(value, range.min, range.max, holdCt);
    }
    if (key == "xy" || key == "xy_inc") {
        const bool increment = key == "xy_inc";
        const std::optional<Xy> given = point(value, increment ? -0.5 : 0.0, increment ? 0.5 : 1.0);
        if (!given)
            return std::nullopt;
        return Change{[given = *given, increment](Lamp& l) {
            const Xy base = increment ? l.xy : Xy{};
            holdXy(l, {std::clamp(base.x + given.x, 0.0, 1.0), std::clamp(base.y + given.y, 0.0, 1.0)});
            l.colormode = "xy";
            return xyText(l.xy);
        }};
    }
    if (key == "alert")
        return word(value, {"none", "select", "lselect"}, &Lamp::alert);
    if (key == "effect")
        return word(value, {"none", "colorloop"}, &Lamp::effect);
    if (key == "transitiontime")
        return number(value, 0, 65535, [](Lamp&, int n) { return std::to_string(n); });
    if (key == "bri_inc")
        return number(value, -254, 254,
                      [](Lamp& l, int n) { return std::to_string(l.bri = std::clamp(l.bri + n, 1, 254)); });
    if (key == "sat_inc")
        return number(value, -254, 254, [](Lamp& l, int n) { return holdHueSat(l, l.hue, l.sat + n).second; });
    if (key == "hue_inc") // the hue goes round the colour wheel
        return number(value, -65534, 65534, [](Lamp& l, int n) { return holdHueSat(l, l.hue + n, l.sat).first; });
    if (key == "ct_inc")
        return number(value, -65534, 65534, [](Lamp& l, int n) { return holdCt(l, l.ct + n); });
    return std::nullopt;
}

std::string uniqueId(const std::string& id)
{
    unsigned tag = 0;
    for (const char c : id)
        tag = (tag * 31 + static_cast<unsigned char>(c)) & 0xffff;
    char text[32];
    std::snprintf(text, sizeof text, "02:47:43:00:00:00:%02x:%02x-0b", tag >> 8, tag & 0xff);
    return text;
}

} // namespace

std::optional<LampKind> lampKindNamed(std::string_view name)
{
    for (const KindInfo& kind : kKinds)
        if (kind.name == name)
            return kind.kind;
    return std::nullopt;
}

std::string_view lampKindName(LampKind kind)
{
    return info(kind).name;
}

Lamp newLamp(std::string id, std::string name, LampKind kind)
{
    Lamp lamp{std::move(id), std::move(name), kind};
    // A lamp without colour temperature makes its warm white from a colour.
    if (info(kind).gamut && !info(kind).mired)
        lamp.colormode = "xy";
    return lamp;
}

Outcome setAttribute(Lamp& lamp, const std::string& key, const QJsonValue& value, bool accepting)
{
    const auto attribute = kAttributes.find(key);
    if (attribute == kAttributes.end() || !has(lamp.kind, attribute->second))
        return {6, "parameter, " + key + ", not available"};
    const std::optional<Change> change = parse(lamp, key, value);
    if (!change)
        return {7, "invalid value, " + plainText(value) + ", for parameter, " + key};
    if (key != "on" && !accepting)
        return {201, "parameter, " + key + ", is not modifiable. Device is set to off."};
    return {0, (*change)(lamp)};
}

std::string lampStateJson(const Lamp& lamp)
{
    const KindInfo& kind = info(lamp.kind);
    Members state{{"on", jsonBool(lamp.on)}, {"bri", std::to_string(lamp.bri)}};
    if (kind.gamut) {
        state.emplace_back("hue", std::to_string(lamp.hue));
        state.emplace_back("sat", std::to_string(lamp.sat));
        state.emplace_back("effect", jsonString(lamp.effect));
        state.emplace_back("xy", xyText(lamp.xy));
    }
    if (kind.mired)
        state.emplace_back("ct", std::to_string(lamp.ct));
    state.emplace_back("alert", jsonString(lamp.alert));
    if (kind.gamut || kind.mired)
        state.emplace_back("colormode", jsonString(kind.gamut ? lamp.colormode : "ct"));
    state.emplace_back("mode", jsonString("homeautomation"));
    state.emplace_back("reachable", jsonBool(lamp.reachable));
    return jsonObject(state);
}

std::string lampJson(const Lamp& lamp)
{
    const KindInfo& kind = info(lamp.kind);
    Members control{{"mindimlevel", "1000"}, {"maxlumen", std::to_string(kind.maxlumen)}};
    if (kind.gamut) {
        control.emplace_back("colorgamuttype", jsonString(std::string{kind.gamutType}));
        control.emplace_back("colorgamut",
                             jsonArray({xyText(kind.gamut->red), xyText(kind.gamut->green), xyText(kind.gamut->blue)}));
    }
    if (kind.mired)
        control.emplace_back(
            "ct", jsonObject({{"min", std::to_string(kind.mired->min)}, {"max", std::to_string(kind.mired->max)}}));
    const std::string capabilities =
        jsonObject({{"certified", "false"},
                    {"control", jsonObject(control)},
                    {"streaming", jsonObject({{"renderer", "false"}, {"proxy", "false"}})}});
    return jsonObject({{"state", lampStateJson(lamp)},
                       {"type", jsonString(std::string{kind.type})},
                       {"name", jsonString(lamp.name)},
                       {"modelid", jsonString(std::string{kind.modelid})},
                       {"manufacturername", jsonString("Glowcast")},
                       {"productname", jsonString(std::string{kind.productname})},
                       {"capabilities", capabilities},
                       {"uniqueid", jsonString(uniqueId(lamp.id))},
                       {"swversion", jsonString("1.0.0")}});
}

} // namespace glowcast::sim
