#include "lamp_light.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace glowcast::sim {

namespace {

double encodeGamma(double linear)
{
    return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
}

} // namespace

std::array<std::uint8_t, 3> srgbFromXyBri(double x, double y, int bri)
{
    std::array<double, 3> linear{1.0, 1.0, 1.0};
    if (std::isfinite(x) && std::isfinite(y) && y > 0.0) {
        const double bigY = 1.0;
        const double bigX = bigY / y * x;
        const double bigZ = bigY / y * (1.0 - x - y);
        linear = {3.2406 * bigX - 1.5372 * bigY - 0.4986 * bigZ, -0.9689 * bigX + 1.8758 * bigY + 0.0415 * bigZ,
                  0.0557 * bigX - 0.2040 * bigY + 1.0570 * bigZ};
        for (double& component : linear)
            component = std::max(component, 0.0);
        const double largest = std::max({linear[0], linear[1], linear[2]});
        if (largest > 0.0) {
            for (double& component : linear)
                component /= largest;
        } else {
            linear = {1.0, 1.0, 1.0};
        }
    }
    const double dim = std::clamp(bri, 0, 255) / 255.0;
    std::array<std::uint8_t, 3> rgb{};
    for (std::size_t i = 0; i < 3; ++i)
        rgb[i] = static_cast<std::uint8_t>(std::lround(std::clamp(encodeGamma(linear[i]) * dim, 0.0, 1.0) * 255.0));
    return rgb;
}

std::string hexColour(const std::array<std::uint8_t, 3>& rgb)
{
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", rgb[0], rgb[1], rgb[2]);
    return text;
}

} // namespace glowcast::sim
