#pragma once

#include "core/colour/colour.h"
#include "core/lamps/lamp_state.h"
#include "core/ports/cover_image.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace glowcast {

// The "vivid" palette: colours for lamps rather than for a screen. The cover's pixels are grouped
// in Oklab; of the groups that are neither near black, near white (light and pale: a yellow is a
// colour) nor grey, the lamps get the set that covers the picture best, each colour lifted to a lamp's
// chroma and lightness floors and every two at least 16 CIEDE2000 apart. The highest-scoring colour comes first; when
// the cover has fewer such colours than lamps, the chosen ones repeat from the strongest. A cover without colour gives
// every lamp warm white, as bright as the cover is light on average, never darker than a floor.
// Gives exactly n colours (none for n <= 0), each channel in 0..1; the same pixels give the same colours.
[[nodiscard]] std::vector<Colour> vividColours(const PixelCanvas& canvas, std::int32_t n);

// What a lamp is sent for a colour of the vivid palette: the colour's own chromaticity, and a
// brightness 1..254 from its largest channel.
struct LampLight {
    std::int32_t bri = 0;
    double x = 0.0;
    double y = 0.0;
    friend bool operator==(const LampLight&, const LampLight&) = default;
};
[[nodiscard]] LampLight vividLampLight(const Colour& colour);

// What the vivid palette asks of a lamp: the body's brightness and chromaticity as numbers.
[[nodiscard]] LampTarget vividLampTarget(const std::optional<Colour>& colour);

// The warm white (about 2700 K) a colourless cover gives, at its chromaticity.
inline constexpr double kWarmWhiteX = 0.460;
inline constexpr double kWarmWhiteY = 0.411;

} // namespace glowcast
