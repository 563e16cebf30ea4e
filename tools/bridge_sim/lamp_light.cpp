#include "bridge_sim/lamp_light.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace glowcast::sim {

namespace {

double encodeGamma(double linear)
{
    return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
}

double decodeGamma(double encoded)
{
    return encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
}

// Twice the signed area of the triangle a, b, c: positive when c lies left of a -> b.
double cross(Xy a, Xy b, Xy c)
{
    return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

Xy nearestOnSegment(Xy point, Xy a, Xy b)
{
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double t = std::clamp(((point.x - a.x) * dx + (point.y - a.y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    return {a.x + t * dx, a.y + t * dy};
}

double distanceSquared(Xy a, Xy b)
{
    return (a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y);
}

} // namespace

Xy nearestInGamut(Xy point, const Gamut& gamut)
{
    const double ab = cross(gamut.red, gamut.green, point);
    const double bc = cross(gamut.green, gamut.blue, point);
    const double ca = cross(gamut.blue, gamut.red, point);
    if ((ab >= 0 && bc >= 0 && ca >= 0) || (ab <= 0 && bc <= 0 && ca <= 0))
        return point;
    Xy best = nearestOnSegment(point, gamut.red, gamut.green);
    for (const Xy candidate :
         {nearestOnSegment(point, gamut.green, gamut.blue), nearestOnSegment(point, gamut.blue, gamut.red)})
        if (distanceSquared(point, candidate) < distanceSquared(point, best))
            best = candidate;
    return best;
}

Xy xyFromMired(int mired)
{
    // The cubic fits of the Planckian locus by Kim et al., in kelvin.
    const double t = std::clamp(1e6 / std::max(mired, 1), 1667.0, 25000.0);
    const double x = t <= 4000 ? -0.2661239e9 / (t * t * t) - 0.2343589e6 / (t * t) + 0.8776956e3 / t + 0.179910
                               : -3.0258469e9 / (t * t * t) + 2.1070379e6 / (t * t) + 0.2226347e3 / t + 0.240390;
    const double y = t <= 2222   ? -1.1063814 * x * x * x - 1.34811020 * x * x + 2.18555832 * x - 0.20219683
                     : t <= 4000 ? -0.9549476 * x * x * x - 1.37418593 * x * x + 2.09137015 * x - 0.16748867
                                 : 3.0817580 * x * x * x - 5.87338670 * x * x + 3.75112997 * x - 0.37001483;
    return {x, y};
}

Xy xyFromHueSat(int hue, int sat)
{
    const double h = std::clamp(hue, 0, 65535) / 65536.0 * 6.0;
    const double s = std::clamp(sat, 0, 254) / 254.0;
    const double f = h - std::floor(h);
    const double p = 1.0 - s;
    const double q = 1.0 - s * f;
    const double t = 1.0 - s * (1.0 - f);
    const std::array<std::array<double, 3>, 6> sectors{
        {{1, t, p}, {q, 1, p}, {p, 1, t}, {p, q, 1}, {t, p, 1}, {1, p, q}}};
    const auto& rgb = sectors[static_cast<std::size_t>(h) % 6];
    const double r = decodeGamma(rgb[0]);
    const double g = decodeGamma(rgb[1]);
    const double b = decodeGamma(rgb[2]);
    const double bigX = 0.4124 * r + 0.3576 * g + 0.1805 * b;
    const double bigY = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    const double bigZ = 0.0193 * r + 0.1192 * g + 0.9505 * b;
    const double sum = bigX + bigY + bigZ;
    return {bigX / sum, bigY / sum};
}

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
