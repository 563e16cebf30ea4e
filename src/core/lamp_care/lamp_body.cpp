#include "core/lamp_care/lamp_body.h"

#include "core/lamp_care/bridge_fields.h"

#include <string>

namespace glowcast {

namespace {

// The value to send a lamp for the colour under "xy", and the attribute it goes under; nothing
// when the lamp cannot show it.
std::optional<std::pair<std::string, Value>> fittedColour(const Value& xy, const LampCapabilities& lamp)
{
    const std::string* text = xy.asText();
    const std::optional<Chromaticity> point = text != nullptr ? chromaticityFrom(*text) : std::nullopt;
    if (takesAttribute(lamp.kind, "xy")) {
        if (!point || !lamp.gamut)
            return std::pair{std::string{"xy"}, xy};
        const Chromaticity fitted = nearestInGamut(*point, *lamp.gamut);
        // A colour the lamp can show keeps its text exactly.
        return std::pair{std::string{"xy"}, fitted == *point ? xy : Value{chromaticityText(fitted)}};
    }
    if (takesAttribute(lamp.kind, "ct") && point && lamp.mireds)
        return std::pair{std::string{"ct"}, Value{nearestMired(*point, lamp.mireds->lowest, lamp.mireds->highest)}};
    return std::nullopt;
}

} // namespace

Dictionary shapedLampBody(const Dictionary& body, const LampCapabilities& lamp, const LampCareSettings& settings)
{
    const bool colour = body.contains("xy");
    const LampKind kind = settings.fitLamp ? lamp.kind : LampKind::Unknown;
    Dictionary shaped;
    if (colour && settings.switchOn)
        shaped.set("on", true);
    for (std::size_t i = 0; i < body.size(); ++i) {
        const std::string& key = body.keys()[i];
        Value value = body.valueAt(i);
        if (key == "xy" && settings.fitLamp) {
            if (auto fitted = fittedColour(value, lamp))
                shaped.set(std::move(fitted->first), std::move(fitted->second));
            continue;
        }
        if (!takesAttribute(kind, key))
            continue;
        if (key == "bri" && colour && settings.minimumBrightness) {
            const auto bri = value.asNumber();
            if (bri && *bri < *settings.minimumBrightness)
                value = Value{static_cast<double>(*settings.minimumBrightness)};
        }
        shaped.set(key, std::move(value));
    }
    if (shaped.empty())
        return shaped;
    if (settings.fade && takesAttribute(kind, "transitiontime"))
        shaped.set("transitiontime", *settings.fade);
    return shaped;
}

} // namespace glowcast
