#include "core/palette/lamp_colour.h"

#include <array>
#include <charconv>
#include <cmath>

namespace glowcast {

namespace {

// "[%.3f,%.3f]" without the C library's locale: the text goes on the wire, where the decimal
// separator is always a point.
std::string xyText(float x, float y)
{
    std::array<char, 64> buffer{};
    char* out = buffer.data();
    char* const end = buffer.data() + buffer.size();
    *out++ = '[';
    out = std::to_chars(out, end, static_cast<double>(x), std::chars_format::fixed, 3).ptr;
    *out++ = ',';
    out = std::to_chars(out, end, static_cast<double>(y), std::chars_format::fixed, 3).ptr;
    *out++ = ']';
    return std::string(buffer.data(), out);
}

// The sRGB decoding curve, worked in double and kept in single precision.
float linear(float value)
{
    const double wide = value;
    if (wide > 0.04045)
        return static_cast<float>(std::pow((wide + 0.055) / 1.055, 2.4));
    return static_cast<float>(wide / 12.92);
}

} // namespace

std::int32_t briValueOf(const Colour& colour)
{
    // Greens, cyans and blues look much brighter on the lamps, so they get half the scale.
    const double hue = colour.hueComponent();
    const double scale = (hue > 0.2 && hue < 0.75) ? 128.0 : 255.0;
    return static_cast<std::int32_t>(colour.brightnessComponent() * scale);
}

CorrectedXy correctedXy(const Colour& colour)
{
    const float red = linear(static_cast<float>(colour.red)) * 100.0F;
    const float green = linear(static_cast<float>(colour.green)) * 100.0F;
    const float blue = linear(static_cast<float>(colour.blue)) * 100.0F;

    const auto weighted = [&](double redWeight, double greenWeight, double blueWeight) {
        return static_cast<float>(static_cast<double>(red) * redWeight + static_cast<double>(green) * greenWeight +
                                  static_cast<double>(blue) * blueWeight);
    };
    const float X = weighted(0.4124, 0.3576, 0.1805);
    const float Y = weighted(0.2126, 0.7152, 0.0722);
    const float Z = weighted(0.0193, 0.1192, 0.9505);
    const float sum = (X + Y) + Z;

    CorrectedXy xy;
    if (sum > 0.0F) {
        xy.x = X / sum;
        xy.y = Y / sum;
    } else {
        // Black has no chromaticity of its own; it gets the white point that every grey gets, so
        // a lamp told to show it reads it as neutral.
        xy.x = 0.3127F;
        xy.y = 0.329F;
    }
    xy.uncorrectedX = xy.x;
    xy.uncorrectedY = xy.y;

    const auto wide = [](float value) { return static_cast<double>(value); };
    if (wide(xy.x) < 0.3 && wide(xy.y) < 0.33 && wide(xy.y) > 0.13) {
        xy.x = 0.198F;
        xy.y = 0.1012F;
        xy.correction = XyCorrection::Blue;
    }
    if (wide(xy.x) < 0.36 && wide(xy.y) > 0.4) {
        xy.x = 0.41F;
        xy.y = 0.51F;
        xy.correction = XyCorrection::Green;
    }
    return xy;
}

namespace {

void logCorrection(const CorrectedXy& xy, Log& log)
{
    log.write("xyValue returning " + xyText(xy.uncorrectedX, xy.uncorrectedY));
    if (xy.correction == XyCorrection::Blue)
        log.write("*** sending an adjusted blue colour");
    if (xy.correction == XyCorrection::Green)
        log.write("*** sending an adjusted green colour");
}

LampTarget targetOf(const Colour& colour, const CorrectedXy& xy)
{
    return {briValueOf(colour),
            Chromaticity{toThreeDecimals(static_cast<double>(xy.x)), toThreeDecimals(static_cast<double>(xy.y))}};
}

} // namespace

double toThreeDecimals(double value)
{
    // Read back from the very text the value is written as, so the text written again is the same.
    std::array<char, 32> buffer{};
    const auto [end, error] =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed, 3);
    double rounded = 0.0;
    if (error != std::errc{} || std::from_chars(buffer.data(), end, rounded).ec != std::errc{})
        return value;
    return rounded;
}

LampTarget lampTargetOf(const std::optional<Colour>& colour)
{
    return colour ? targetOf(*colour, correctedXy(*colour)) : LampTarget{};
}

LampTarget lampTargetOf(const std::optional<Colour>& colour, Log& log)
{
    if (!colour)
        return {};
    const CorrectedXy xy = correctedXy(*colour);
    logCorrection(xy, log);
    return targetOf(*colour, xy);
}

} // namespace glowcast
