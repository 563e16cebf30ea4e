#include "core/bridge/lamp_record.h"

#include "core/bridge/bridge_fields.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <utility>

namespace glowcast {

namespace {

// The range every colour temperature the bridge accepts lies in: 1000 K to 20000 K and more.
constexpr std::int64_t kLowestMired = 50;
constexpr std::int64_t kHighestMired = 1000;

bool sameLetters(std::string_view a, std::string_view b)
{
    return std::ranges::equal(a, b, [](char l, char r) {
        return std::tolower(static_cast<unsigned char>(l)) == std::tolower(static_cast<unsigned char>(r));
    });
}

LampKind kindOf(std::string_view type)
{
    static constexpr std::array<std::pair<std::string_view, LampKind>, 6> kTypes{{
        {"Extended color light", LampKind::ExtendedColour},
        {"Color light", LampKind::Colour},
        {"Color temperature light", LampKind::ColourTemperature},
        {"Dimmable light", LampKind::Dimmable},
        {"On/Off light", LampKind::OnOff},
        {"On/Off plug-in unit", LampKind::OnOff},
    }};
    for (const auto& [name, kind] : kTypes)
        if (sameLetters(name, type))
            return kind;
    return LampKind::Unknown;
}

std::optional<MiredRange> miredsFrom(const Dictionary* ct)
{
    if (ct == nullptr)
        return std::nullopt;
    const auto lowest = wholeNumberFrom(ct->find("min"));
    const auto highest = wholeNumberFrom(ct->find("max"));
    if (!lowest || !highest || *lowest < kLowestMired || *highest > kHighestMired || *lowest > *highest)
        return std::nullopt;
    return MiredRange{static_cast<int>(*lowest), static_cast<int>(*highest)};
}

} // namespace

LampCapabilities lampCapabilitiesFrom(std::string_view lampId, const Dictionary& record, Log& log)
{
    const std::string lamp = "lamp " + std::string{lampId} + ": ";
    LampCapabilities capabilities;
    const std::optional<std::string> type = record.text("type");
    if (!type) {
        log.write(lamp + "no kind given; it is sent what every lamp is sent");
        return capabilities;
    }
    capabilities.kind = kindOf(*type);
    if (capabilities.kind == LampKind::Unknown) {
        log.write(lamp + "kind '" + *type + "' not known; it is sent what every lamp is sent");
        return capabilities;
    }

    const Dictionary* found = record.dictionary("capabilities");
    const Dictionary* control = found != nullptr ? found->dictionary("control") : nullptr;
    if (takesAttribute(capabilities.kind, "xy")) {
        // The codec cuts a list of lists at its first inner list, so the corners usually arrive
        // cut short; the gamut type then names the same triangle.
        const std::optional<std::string> corners = control != nullptr ? control->text("colorgamut") : std::nullopt;
        const std::optional<std::string> letter = control != nullptr ? control->text("colorgamuttype") : std::nullopt;
        capabilities.gamut = corners ? gamutFrom(*corners) : std::nullopt;
        if (!capabilities.gamut && letter)
            capabilities.gamut = gamutOfType(*letter);
        if (!capabilities.gamut)
            log.write(lamp + "no usable colour gamut; its colours are sent as they are");
    }
    if (capabilities.kind == LampKind::ColourTemperature) {
        capabilities.mireds = miredsFrom(control != nullptr ? control->dictionary("ct") : nullptr);
        if (!capabilities.mireds)
            log.write(lamp + "no usable colour temperature range; it is sent brightness only");
    }
    return capabilities;
}

std::optional<Dictionary> restoreBodyFrom(std::string_view lampId, const Dictionary& record, Log& log)
{
    const Dictionary* nested = record.dictionary("state");
    const Dictionary& state = nested != nullptr ? *nested : record;
    Dictionary body;
    std::string unusable;
    const auto note = [&unusable](std::string_view key) {
        unusable += (unusable.empty() ? "'" : ", '") + std::string{key} + "'";
    };
    // Copies a whole number in lowest..highest; a present field that is anything else is noted.
    const auto copyWhole = [&](std::string_view key, std::int64_t lowest, std::int64_t highest) {
        const Value* value = state.find(key);
        if (value == nullptr)
            return;
        const auto whole = wholeNumberFrom(value);
        if (whole && *whole >= lowest && *whole <= highest)
            body.set(std::string{key}, *whole);
        else
            note(key);
    };

    const auto on = flagFrom(state.find("on"));
    if (!on && state.contains("on"))
        note("on");
    if (on && *on)
        body.set("on", true);
    copyWhole("bri", 0, 255);
    const std::optional<std::string> mode = state.text("colormode");
    if (mode == "xy") {
        const std::optional<std::string> xy = state.text("xy");
        if (const auto point = xy ? chromaticityFrom(*xy) : std::nullopt)
            body.set("xy", chromaticityText(*point));
        else
            note("xy");
    } else if (mode == "ct") {
        copyWhole("ct", 1, 1000);
    } else if (mode == "hs") {
        copyWhole("hue", 0, 65535);
        copyWhole("sat", 0, 255);
    } else if (mode || state.contains("colormode")) {
        note("colormode");
    }
    if (on && !*on)
        body.set("on", false);

    if (!unusable.empty())
        log.write("lamp " + std::string{lampId} + ": state " + unusable + " unusable, not put back");
    if (body.empty())
        return std::nullopt;
    return body;
}

} // namespace glowcast
