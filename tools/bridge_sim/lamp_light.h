#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace glowcast::sim {

// The colour a lamp gives off, as sRGB bytes, from the chromaticity and brightness it was sent:
// the xy point at full luminance is turned into linear sRGB (D65), scaled so that its largest
// component is 1, gamma-encoded, then dimmed by bri / 255. Points outside the sRGB gamut are
// clipped; an unusable point (y of 0 or less) shows as white light.
[[nodiscard]] std::array<std::uint8_t, 3> srgbFromXyBri(double x, double y, int bri);

// "#rrggbb"
[[nodiscard]] std::string hexColour(const std::array<std::uint8_t, 3>& rgb);

} // namespace glowcast::sim
