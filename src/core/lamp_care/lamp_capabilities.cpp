#include "core/lamp_care/lamp_capabilities.h"

#include "core/lamp_care/bridge_fields.h"

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

std::optional<Gamut> gamutOfType(std::string_view type)
{
    if (type == "A")
        return Gamut{{{{0.704, 0.296}, {0.2151, 0.7106}, {0.138, 0.08}}}};
    if (type == "B")
        return Gamut{{{{0.675, 0.322}, {0.409, 0.518}, {0.167, 0.04}}}};
    if (type == "C")
        return Gamut{{{{0.6915, 0.3083}, {0.17, 0.7}, {0.1532, 0.0475}}}};
    return std::nullopt;
}

bool takesAttribute(LampKind kind, std::string_view attribute)
{
    if (kind == LampKind::Unknown || attribute == "on")
        return true;
    if (attribute == "bri" || attribute == "transitiontime")
        return kind != LampKind::OnOff;
    if (attribute == "xy" || attribute == "hue" || attribute == "sat")
        return kind == LampKind::ExtendedColour || kind == LampKind::Colour;
    if (attribute == "ct")
        return kind == LampKind::ExtendedColour || kind == LampKind::ColourTemperature;
    return false;
}

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

} // namespace glowcast
