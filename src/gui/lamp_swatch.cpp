#include "gui/lamp_swatch.h"

#include "core/colour/chromaticity.h"
#include "core/colour/perceptual.h"

#include <algorithm>
#include <optional>

namespace glowcast {

namespace {

constexpr double kFullBrightness = 254.0;

} // namespace

Colour shownColour(const LampState& state)
{
    std::optional<Chromaticity> point = state.chromaticity;
    if (!point && state.mired && *state.mired > 0)
        point = blackBodyChromaticity(1e6 / *state.mired);
    // A lamp sent no colour shows its own white: a grey on screen.
    double red = 1.0;
    double green = 1.0;
    double blue = 1.0;
    if (point) {
        // XYZ of the point with Y = 1, then sRGB's linear components; a y of 0 is no colour at all.
        const double y = std::max(point->y, 1e-6);
        const double bigX = point->x / y;
        const double bigZ = (1.0 - point->x - point->y) / y;
        red = std::max(0.0, 3.2406 * bigX - 1.5372 - 0.4986 * bigZ);
        green = std::max(0.0, -0.9689 * bigX + 1.8758 + 0.0415 * bigZ);
        blue = std::max(0.0, 0.0557 * bigX - 0.2040 + 1.0570 * bigZ);
    }
    const double largest = std::max({red, green, blue, 1e-9});
    const double dimmed = std::clamp(state.brightness.value_or(254) / kFullBrightness, 0.0, 1.0) / largest;
    red *= dimmed;
    green *= dimmed;
    blue *= dimmed;
    return {encodedFromLinear(std::min(red, 1.0)), encodedFromLinear(std::min(green, 1.0)),
            encodedFromLinear(std::min(blue, 1.0)), 1.0};
}

} // namespace glowcast
