#include "core/colour/chromaticity.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>

namespace glowcast {

namespace {

double cross(Chromaticity origin, Chromaticity a, Chromaticity b)
{
    return (a.x - origin.x) * (b.y - origin.y) - (a.y - origin.y) * (b.x - origin.x);
}

double squaredDistance(Chromaticity a, Chromaticity b)
{
    return (a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y);
}

Chromaticity nearestOnSegment(Chromaticity point, Chromaticity a, Chromaticity b)
{
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    const double length = dx * dx + dy * dy;
    if (length <= 0.0)
        return a;
    const double t = std::clamp(((point.x - a.x) * dx + (point.y - a.y) * dy) / length, 0.0, 1.0);
    return {a.x + t * dx, a.y + t * dy};
}

// The black body's chromaticity by the cubic fit of Kim et al., which holds from 1667 K to 25000 K.
Chromaticity blackBody(double kelvin)
{
    const double t = std::clamp(kelvin, 1667.0, 25'000.0);
    const double t2 = t * t;
    const double t3 = t2 * t;
    const double x = t <= 4000.0 ? -0.2661239e9 / t3 - 0.2343589e6 / t2 + 0.8776956e3 / t + 0.179910
                                 : -3.0258469e9 / t3 + 2.1070379e6 / t2 + 0.2226347e3 / t + 0.240390;
    const double x2 = x * x;
    const double x3 = x2 * x;
    double y = 0.0;
    if (t <= 2222.0)
        y = -1.1063814 * x3 - 1.34811020 * x2 + 2.18555832 * x - 0.20219683;
    else if (t <= 4000.0)
        y = -0.9549476 * x3 - 1.37418593 * x2 + 2.09137015 * x - 0.16748867;
    else
        y = 3.0817580 * x3 - 5.87338670 * x2 + 3.75112997 * x - 0.37001483;
    return {x, y};
}

// CIE 1960 u, v: distances there follow what the eye sees far better than in x, y.
Chromaticity uniform(Chromaticity point)
{
    const double denominator = -2.0 * point.x + 12.0 * point.y + 3.0;
    if (denominator <= 0.0)
        return {0.0, 0.0};
    return {4.0 * point.x / denominator, 6.0 * point.y / denominator};
}

} // namespace

Chromaticity blackBodyChromaticity(double kelvin)
{
    return blackBody(kelvin);
}

Chromaticity uniformChromaticity(Chromaticity point)
{
    return uniform(point);
}

Chromaticity nearestInGamut(Chromaticity point, const Gamut& gamut)
{
    const auto& [red, green, blue] = gamut.corners;
    const double a = cross(red, green, point);
    const double b = cross(green, blue, point);
    const double c = cross(blue, red, point);
    if ((a >= 0 && b >= 0 && c >= 0) || (a <= 0 && b <= 0 && c <= 0))
        return point;
    Chromaticity best = nearestOnSegment(point, red, green);
    for (const Chromaticity candidate : {nearestOnSegment(point, green, blue), nearestOnSegment(point, blue, red)})
        if (squaredDistance(candidate, point) < squaredDistance(best, point))
            best = candidate;
    return best;
}

int nearestMired(Chromaticity point, int lowest, int highest)
{
    const Chromaticity target = uniform(point);
    int best = lowest;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (int mired = lowest; mired <= highest; ++mired) {
        const double distance = squaredDistance(uniform(blackBody(1e6 / mired)), target);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = mired;
        }
    }
    return best;
}

std::string chromaticityText(Chromaticity point)
{
    // Room for any double in fixed notation: a sign, 309 digits, the point and four decimals, twice.
    std::array<char, 2 * 316 + 3> buffer{};
    char* out = buffer.data();
    char* const end = buffer.data() + buffer.size();
    *out++ = '[';
    out = std::to_chars(out, end, point.x, std::chars_format::fixed, 4).ptr;
    *out++ = ',';
    out = std::to_chars(out, end, point.y, std::chars_format::fixed, 4).ptr;
    *out++ = ']';
    return std::string(buffer.data(), out);
}

} // namespace glowcast
