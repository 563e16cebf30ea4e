#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace glowcast::sim {

struct Xy {
    double x = 0;
    double y = 0;
    friend bool operator==(const Xy&, const Xy&) = default;
};

// The colours a lamp can make: the triangle of its red, green and blue primaries in CIE xy.
struct Gamut {
    Xy red, green, blue;
};

// The three gamuts of the bridge's protocol, by the letter it reports as `colorgamuttype`.
inline constexpr Gamut kGamutA{{0.704, 0.296}, {0.2151, 0.7106}, {0.138, 0.08}};
inline constexpr Gamut kGamutB{{0.675, 0.322}, {0.409, 0.518}, {0.167, 0.04}};
inline constexpr Gamut kGamutC{{0.6915, 0.3038}, {0.17, 0.7}, {0.1532, 0.0475}};

// The point itself when the gamut holds it, else the nearest point on the triangle's edges.
[[nodiscard]] Xy nearestInGamut(Xy point, const Gamut& gamut);

// The chromaticity of white light of a colour temperature given in mired (1e6 / kelvin), on the
// Planckian locus; valid from 1667 K to 25000 K, clamped to that.
[[nodiscard]] Xy xyFromMired(int mired);

// The chromaticity of a hue (0..65535 around the colour wheel, red at 0) and saturation (0..254)
// taken as an sRGB colour at full value.
[[nodiscard]] Xy xyFromHueSat(int hue, int sat);

// The colour a lamp gives off, as sRGB bytes, from the chromaticity and brightness it was sent:
// the xy point at full luminance is turned into linear sRGB (D65), scaled so that its largest
// component is 1, gamma-encoded, then dimmed by bri / 255. Points outside the sRGB gamut are
// clipped; an unusable point (y of 0 or less) shows as white light.
[[nodiscard]] std::array<std::uint8_t, 3> srgbFromXyBri(double x, double y, int bri);

// "#rrggbb"
[[nodiscard]] std::string hexColour(const std::array<std::uint8_t, 3>& rgb);

} // namespace glowcast::sim
