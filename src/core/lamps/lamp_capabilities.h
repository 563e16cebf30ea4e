#pragma once

#include "core/colour/chromaticity.h"

#include <optional>
#include <string_view>

namespace glowcast {

// What a lamp can show, by the kinds the bridge lists. Unknown: whatever the bridge calls it, or
// it said nothing; such a lamp is sent what every lamp is sent.
enum class LampKind { Unknown, ExtendedColour, Colour, ColourTemperature, Dimmable, OnOff };

struct MiredRange {
    int lowest = 0;
    int highest = 0;
    friend bool operator==(const MiredRange&, const MiredRange&) = default;
};

struct LampCapabilities {
    LampKind kind = LampKind::Unknown;
    std::optional<Gamut> gamut;       // a colour lamp's triangle, when the bridge gave a usable one
    std::optional<MiredRange> mireds; // a colour-temperature lamp's range, likewise
    friend bool operator==(const LampCapabilities&, const LampCapabilities&) = default;
};

// The triangles the bridge's gamut types "A", "B" and "C" stand for.
[[nodiscard]] std::optional<Gamut> gamutOfType(std::string_view type);

// Whether a lamp of the kind takes the lamp-state attribute: "on" every lamp, "bri" and
// "transitiontime" every lamp that dims, "xy", "hue" and "sat" colour lamps, "ct" lamps with a
// colour temperature. A lamp of unknown kind is taken to take everything.
[[nodiscard]] bool takesAttribute(LampKind kind, std::string_view attribute);

} // namespace glowcast
