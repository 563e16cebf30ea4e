#pragma once

#include "core/colour/chromaticity.h"

#include <cstdint>

namespace glowcast {

// The triangle of the sRGB primaries: what a screen, and an LED strip taken as one, can show.
inline constexpr Gamut kSrgbGamut{{Chromaticity{0.64, 0.33}, Chromaticity{0.30, 0.60}, Chromaticity{0.15, 0.06}}};

// An sRGB colour with the transfer curve applied, each channel 0..1.
struct EncodedRgb {
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
    friend bool operator==(const EncodedRgb&, const EncodedRgb&) = default;
};

struct RgbBytes {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    friend bool operator==(const RgbBytes&, const RgbBytes&) = default;
};

// The colour of a chromaticity at full value: a point outside the sRGB triangle moved to its nearest
// point first, its light then scaled so that its largest channel is 1, and encoded. A point that is no
// number gives the white of D65.
[[nodiscard]] EncodedRgb srgbAtFullValue(Chromaticity point);
// The same, each channel rounded to 0..255.
[[nodiscard]] RgbBytes rgbBytesAtFullValue(Chromaticity point);

} // namespace glowcast
