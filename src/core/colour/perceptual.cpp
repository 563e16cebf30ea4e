#include "core/colour/perceptual.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace glowcast {

double Oklab::chroma() const
{
    return std::sqrt(a * a + b * b);
}

double linearFromEncoded(double encoded)
{
    if (encoded <= 0.04045)
        return encoded / 12.92;
    return std::pow((encoded + 0.055) / 1.055, 2.4);
}

double encodedFromLinear(double linear)
{
    if (linear <= 0.0031308)
        return linear * 12.92;
    return 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
}

const std::array<double, 256>& linearFromByteTable()
{
    static const std::array<double, 256> table = [] {
        std::array<double, 256> values{};
        for (std::size_t byte = 0; byte < values.size(); ++byte)
            values[byte] = linearFromEncoded(static_cast<double>(byte) / 255.0);
        return values;
    }();
    return table;
}

Oklab oklabFromLinear(const LinearRgb& c)
{
    const double l = std::cbrt(0.4122214708 * c.red + 0.5363325363 * c.green + 0.0514459929 * c.blue);
    const double m = std::cbrt(0.2119034982 * c.red + 0.6806995451 * c.green + 0.1073969566 * c.blue);
    const double s = std::cbrt(0.0883024619 * c.red + 0.2817188376 * c.green + 0.6299787005 * c.blue);
    return {0.2104542553 * l + 0.7936177850 * m - 0.0040720468 * s,
            1.9779984951 * l - 2.4285922050 * m + 0.4505937099 * s,
            0.0259040371 * l + 0.7827717662 * m - 0.8086757660 * s};
}

LinearRgb linearFromOklab(const Oklab& c)
{
    const auto cube = [](double v) { return v * v * v; };
    const double l = cube(c.lightness + 0.3963377774 * c.a + 0.2158037573 * c.b);
    const double m = cube(c.lightness - 0.1055613458 * c.a - 0.0638541728 * c.b);
    const double s = cube(c.lightness - 0.0894841775 * c.a - 1.2914855480 * c.b);
    return {4.0767416621 * l - 3.3077115913 * m + 0.2309699292 * s,
            -1.2684380046 * l + 2.6097574011 * m - 0.3413193965 * s,
            -0.0041960863 * l - 0.7034186147 * m + 1.7076147010 * s};
}

CieLab cieLabFromLinear(const LinearRgb& c)
{
    // XYZ relative to the D65 white, then the cube-root response with its linear foot.
    const double x = (0.4124564 * c.red + 0.3575761 * c.green + 0.1804375 * c.blue) / 0.95047;
    const double y = 0.2126729 * c.red + 0.7151522 * c.green + 0.0721750 * c.blue;
    const double z = (0.0193339 * c.red + 0.1191920 * c.green + 0.9503041 * c.blue) / 1.08883;
    const auto f = [](double t) {
        constexpr double kEpsilon = 216.0 / 24389.0;
        constexpr double kKappa = 24389.0 / 27.0;
        return t > kEpsilon ? std::cbrt(t) : (kKappa * t + 16.0) / 116.0;
    };
    const double fx = f(x);
    const double fy = f(y);
    const double fz = f(z);
    return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

double ciede2000(const CieLab& first, const CieLab& second)
{
    constexpr double kPi = std::numbers::pi;
    const auto degrees = [](double radians) { return radians * 180.0 / kPi; };
    const auto radians = [](double degreesValue) { return degreesValue * kPi / 180.0; };
    const auto pow7 = [](double v) { return v * v * v * v * v * v * v; };
    constexpr double k25To7 = 6103515625.0; // 25^7

    const double c1 = std::sqrt(first.a * first.a + first.b * first.b);
    const double c2 = std::sqrt(second.a * second.a + second.b * second.b);
    const double meanC7 = pow7((c1 + c2) / 2.0);
    const double g = 0.5 * (1.0 - std::sqrt(meanC7 / (meanC7 + k25To7)));
    const double a1 = (1.0 + g) * first.a;
    const double a2 = (1.0 + g) * second.a;
    const double cp1 = std::sqrt(a1 * a1 + first.b * first.b);
    const double cp2 = std::sqrt(a2 * a2 + second.b * second.b);
    const auto hue = [&](double b, double a) {
        if (a == 0.0 && b == 0.0)
            return 0.0;
        const double h = degrees(std::atan2(b, a));
        return h < 0.0 ? h + 360.0 : h;
    };
    const double hp1 = hue(first.b, a1);
    const double hp2 = hue(second.b, a2);

    const double deltaL = second.lightness - first.lightness;
    const double deltaC = cp2 - cp1;
    double deltah = 0.0;
    if (cp1 * cp2 != 0.0) {
        deltah = hp2 - hp1;
        if (deltah > 180.0)
            deltah -= 360.0;
        else if (deltah < -180.0)
            deltah += 360.0;
    }
    const double deltaH = 2.0 * std::sqrt(cp1 * cp2) * std::sin(radians(deltah / 2.0));

    const double meanL = (first.lightness + second.lightness) / 2.0;
    const double meanCp = (cp1 + cp2) / 2.0;
    double meanH = hp1 + hp2;
    if (cp1 * cp2 != 0.0) {
        if (std::abs(hp1 - hp2) <= 180.0)
            meanH /= 2.0;
        else
            meanH = meanH < 360.0 ? (meanH + 360.0) / 2.0 : (meanH - 360.0) / 2.0;
    }
    // The four cosines of the hue's multiples from one cosine and sine, by the multiple-angle identities.
    const double cos1 = std::cos(radians(meanH));
    const double sin1 = std::sin(radians(meanH));
    const double cos2 = 2.0 * cos1 * cos1 - 1.0;
    const double sin2 = 2.0 * sin1 * cos1;
    const double cos3 = cos1 * (4.0 * cos1 * cos1 - 3.0);
    const double sin3 = sin1 * (3.0 - 4.0 * sin1 * sin1);
    const double cos4 = 2.0 * cos2 * cos2 - 1.0;
    const double sin4 = 2.0 * sin2 * cos2;
    const auto shifted = [&](double cosine, double sine, double degreesShift) {
        return cosine * std::cos(radians(degreesShift)) - sine * std::sin(radians(degreesShift));
    };
    const double t = 1.0 - 0.17 * shifted(cos1, sin1, -30.0) + 0.24 * cos2 + 0.32 * shifted(cos3, sin3, 6.0) -
                     0.20 * shifted(cos4, sin4, -63.0);
    const double hueOffset = (meanH - 275.0) / 25.0;
    const double deltaTheta = 30.0 * std::exp(-hueOffset * hueOffset);
    const double meanCp7 = pow7(meanCp);
    const double rc = 2.0 * std::sqrt(meanCp7 / (meanCp7 + k25To7));
    const double lOffset = (meanL - 50.0) * (meanL - 50.0);
    const double sl = 1.0 + 0.015 * lOffset / std::sqrt(20.0 + lOffset);
    const double sc = 1.0 + 0.045 * meanCp;
    const double sh = 1.0 + 0.015 * meanCp * t;
    const double rt = -std::sin(radians(2.0 * deltaTheta)) * rc;
    const double termL = deltaL / sl;
    const double termC = deltaC / sc;
    const double termH = deltaH / sh;
    return std::sqrt(std::max(0.0, termL * termL + termC * termC + termH * termH + rt * termC * termH));
}

} // namespace glowcast
