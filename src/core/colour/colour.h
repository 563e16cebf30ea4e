#pragma once

namespace glowcast {

// An RGB colour with components in 0..1 and an alpha, with its HSB components derived on demand:
// brightness is the largest component; saturation (largest - smallest) / largest, 0 when the
// largest is 0; hue the fraction of the colour circle (red 0, green 1/3, blue 2/3), 0 for a grey.
struct Colour {
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
    double alpha = 1.0;

    [[nodiscard]] double hueComponent() const;
    [[nodiscard]] double saturationComponent() const;
    [[nodiscard]] double brightnessComponent() const;

    friend bool operator==(const Colour&, const Colour&) = default;
};

[[nodiscard]] inline Colour whiteColour()
{
    return Colour{1.0, 1.0, 1.0, 1.0};
}

} // namespace glowcast
