#include "core/colour/srgb.h"

#include "core/colour/perceptual.h"

#include <algorithm>
#include <cmath>

namespace glowcast {

EncodedRgb srgbAtFullValue(Chromaticity point)
{
    if (!std::isfinite(point.x) || !std::isfinite(point.y))
        point = Chromaticity{0.3127, 0.3290};
    // Inside the triangle y is at least the blue corner's 0.06, so the division below is safe.
    point = nearestInGamut(point, kSrgbGamut);
    const double bigX = point.x / point.y;
    const double bigZ = (1.0 - point.x - point.y) / point.y;
    const double light[3] = {3.2404542 * bigX - 1.5371385 - 0.4985314 * bigZ,
                             -0.9692660 * bigX + 1.8760108 + 0.0415560 * bigZ,
                             0.0556434 * bigX - 0.2040259 + 1.0572252 * bigZ};
    const double largest = std::max({light[0], light[1], light[2]});
    const auto channel = [largest](double value) {
        return std::clamp(encodedFromLinear(std::max(0.0, value) / largest), 0.0, 1.0);
    };
    return {channel(light[0]), channel(light[1]), channel(light[2])};
}

RgbBytes rgbBytesAtFullValue(Chromaticity point)
{
    const EncodedRgb colour = srgbAtFullValue(point);
    const auto byte = [](double value) { return static_cast<std::uint8_t>(std::lround(value * 255.0)); };
    return {byte(colour.red), byte(colour.green), byte(colour.blue)};
}

} // namespace glowcast
