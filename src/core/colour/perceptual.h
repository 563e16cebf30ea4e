#pragma once

#include <array>

namespace glowcast {

// Light in linear sRGB: each channel proportional to the light a screen's primary gives, 0..1 in gamut.
struct LinearRgb {
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
    friend bool operator==(const LinearRgb&, const LinearRgb&) = default;
};

// A colour in the Oklab space: lightness 0..1 and two opponent axes; distances there follow what the
// eye sees, and chroma is the length of (a, b).
struct Oklab {
    double lightness = 0.0;
    double a = 0.0;
    double b = 0.0;
    [[nodiscard]] double chroma() const;
    friend bool operator==(const Oklab&, const Oklab&) = default;
};

// A colour in CIELAB (D65 white): L* 0..100.
struct CieLab {
    double lightness = 0.0;
    double a = 0.0;
    double b = 0.0;
    friend bool operator==(const CieLab&, const CieLab&) = default;
};

// The sRGB transfer curve, both ways; encoded values 0..1.
[[nodiscard]] double linearFromEncoded(double encoded);
[[nodiscard]] double encodedFromLinear(double linear);
// linearFromEncoded(byte / 255) for every byte, computed once.
[[nodiscard]] const std::array<double, 256>& linearFromByteTable();

[[nodiscard]] Oklab oklabFromLinear(const LinearRgb& colour);
[[nodiscard]] LinearRgb linearFromOklab(const Oklab& colour);
[[nodiscard]] CieLab cieLabFromLinear(const LinearRgb& colour);

// The CIEDE2000 colour difference (weights 1, 1, 1); about 1 is the smallest difference one sees.
[[nodiscard]] double ciede2000(const CieLab& first, const CieLab& second);

} // namespace glowcast
