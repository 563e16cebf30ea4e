#pragma once

#include <string>

#include <array>

namespace glowcast {

// A point of the CIE 1931 xy chromaticity diagram.
struct Chromaticity {
    double x = 0.0;
    double y = 0.0;
    friend bool operator==(const Chromaticity&, const Chromaticity&) = default;
};

// The colours a lamp can show: the triangle of its red, green and blue corners.
struct Gamut {
    std::array<Chromaticity, 3> corners{};
    friend bool operator==(const Gamut&, const Gamut&) = default;
};

// The point itself when it lies in the triangle (edges included), else the nearest point of its edges.
[[nodiscard]] Chromaticity nearestInGamut(Chromaticity point, const Gamut& gamut);

// The black body's chromaticity at a temperature (clamped to 1667..25000 K).
[[nodiscard]] Chromaticity blackBodyChromaticity(double kelvin);
// The point in the CIE 1960 uniform chromaticity space (u, v).
[[nodiscard]] Chromaticity uniformChromaticity(Chromaticity point);

// The colour temperature in mired, lowest..highest, whose white on the black-body curve lies
// nearest the point in the CIE 1960 uniform chromaticity space. Needs 1 <= lowest <= highest.
[[nodiscard]] int nearestMired(Chromaticity point, int lowest, int highest);

// "[x,y]" with four decimals and no locale, as a bridge is sent a chromaticity.
[[nodiscard]] std::string chromaticityText(Chromaticity point);

} // namespace glowcast
