#include "core/lamps/lamp_capabilities.h"

#include <string>

namespace glowcast {

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

} // namespace glowcast
