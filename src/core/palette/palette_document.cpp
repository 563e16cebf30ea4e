#include "core/palette/palette_document.h"

#include "core/colour/perceptual.h"
#include "core/text/log_text.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <optional>

namespace glowcast {

namespace {

std::uint8_t byteOf(double component)
{
    // NaN compares false both ways and ends at 0.
    const double clamped = component >= 1.0 ? 1.0 : component > 0.0 ? component : 0.0;
    return static_cast<std::uint8_t>(std::lround(clamped * 255.0));
}

// A colour as hue (0..1 around the circle), saturation and lightness, each 0..1.
struct Hsl {
    double hue = 0.0;
    double saturation = 0.0;
    double lightness = 0.0;
};

Hsl hslOf(RgbBytes colour)
{
    const double r = colour.red / 255.0;
    const double g = colour.green / 255.0;
    const double b = colour.blue / 255.0;
    const double high = std::max({r, g, b});
    const double low = std::min({r, g, b});
    const double span = high - low;
    // The hue is the one HSB has too.
    Hsl hsl{Colour{r, g, b}.hueComponent(), 0.0, (high + low) / 2.0};
    if (span > 0.0)
        hsl.saturation = span / (1.0 - std::abs(2.0 * hsl.lightness - 1.0));
    return hsl;
}

// For a fixed hue and saturation every channel grows with the lightness, so the luminance does too.
RgbBytes bytesOf(const Hsl& hsl)
{
    const double chroma = (1.0 - std::abs(2.0 * hsl.lightness - 1.0)) * hsl.saturation;
    const double sixths = hsl.hue * 6.0;
    const double second = chroma * (1.0 - std::abs(std::fmod(sixths, 2.0) - 1.0));
    const double floor = hsl.lightness - chroma / 2.0;
    std::array<double, 3> rgb{};
    switch (static_cast<int>(sixths) % 6) {
    case 0:
        rgb = {chroma, second, 0.0};
        break;
    case 1:
        rgb = {second, chroma, 0.0};
        break;
    case 2:
        rgb = {0.0, chroma, second};
        break;
    case 3:
        rgb = {0.0, second, chroma};
        break;
    case 4:
        rgb = {second, 0.0, chroma};
        break;
    default:
        rgb = {chroma, 0.0, second};
        break;
    }
    return {byteOf(rgb[0] + floor), byteOf(rgb[1] + floor), byteOf(rgb[2] + floor)};
}

// The lightness nearest the colour's own, toward target (0 or 1), at which it reaches the least contrast
// with the background; nothing when even the target does not. The bytes change in steps, so the search
// halves the interval until the steps' edge is found.
std::optional<double> lightnessReaching(const Hsl& from, double target, RgbBytes background)
{
    const auto enough = [&](double lightness) {
        return contrastRatio(bytesOf({from.hue, from.saturation, lightness}), background) >= kLeastContrast;
    };
    if (!enough(target))
        return std::nullopt;
    double falling = from.lightness; // short of it
    double reaching = target;
    for (int halving = 0; halving < 48; ++halving) {
        const double middle = (falling + reaching) / 2.0;
        (enough(middle) ? reaching : falling) = middle;
    }
    return reaching;
}

RgbBytes readableOn(RgbBytes colour, RgbBytes background)
{
    if (contrastRatio(colour, background) >= kLeastContrast)
        return colour;
    const Hsl hsl = hslOf(colour);
    const std::optional<double> lighter = lightnessReaching(hsl, 1.0, background);
    const std::optional<double> darker = lightnessReaching(hsl, 0.0, background);
    // Some way always reaches it: the background's contrast with black or with white is at least 4.58.
    double lightness = lighter.value_or(darker.value_or(1.0));
    if (lighter && darker && hsl.lightness - *darker < *lighter - hsl.lightness)
        lightness = *darker;
    return bytesOf({hsl.hue, hsl.saturation, lightness});
}

int colourfulness(RgbBytes colour)
{
    return std::max({colour.red, colour.green, colour.blue}) - std::min({colour.red, colour.green, colour.blue});
}

} // namespace

RgbBytes rgbBytes(const Colour& colour)
{
    return {byteOf(colour.red), byteOf(colour.green), byteOf(colour.blue)};
}

std::string hexColour(RgbBytes colour)
{
    constexpr std::string_view kDigits = "0123456789abcdef";
    std::string text = "#";
    for (const std::uint8_t byte : {colour.red, colour.green, colour.blue}) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xf];
    }
    return text;
}

double relativeLuminance(RgbBytes colour)
{
    const std::array<double, 256>& linear = linearFromByteTable();
    return 0.2126 * linear[colour.red] + 0.7152 * linear[colour.green] + 0.0722 * linear[colour.blue];
}

double contrastRatio(RgbBytes first, RgbBytes second)
{
    const double a = relativeLuminance(first) + 0.05;
    const double b = relativeLuminance(second) + 0.05;
    return a > b ? a / b : b / a;
}

ScreenColours screenColours(std::span<const Colour> palette)
{
    if (palette.empty())
        return {};
    std::vector<RgbBytes> bytes;
    bytes.reserve(palette.size());
    for (const Colour& colour : palette)
        bytes.push_back(rgbBytes(colour));
    const RgbBytes background = bytes.front();
    std::size_t foreground = 0;
    for (std::size_t i = 1; i < bytes.size(); ++i)
        if (foreground == 0 || contrastRatio(bytes[i], background) > contrastRatio(bytes[foreground], background))
            foreground = i;
    ScreenColours colours{background, readableOn(bytes[foreground], background), {}};
    colours.accent = colours.foreground;
    int mostColourful = -1;
    for (std::size_t i = 1; i < bytes.size(); ++i) {
        if (i != foreground && colourfulness(bytes[i]) > mostColourful) {
            mostColourful = colourfulness(bytes[i]);
            colours.accent = bytes[i];
        }
    }
    return colours;
}

PaletteDocument paletteDocument(std::span<const Colour> colours, Palette palette, const CoverArrival& cover)
{
    PaletteDocument document;
    for (const Colour& colour : colours)
        document.colours.push_back(hexColour(rgbBytes(colour)));
    const ScreenColours screen = screenColours(colours);
    document.background = hexColour(screen.background);
    document.foreground = hexColour(screen.foreground);
    document.accent = hexColour(screen.accent);
    document.fromPlayer = cover.fromPlayer;
    document.track = cover.track;
    document.palette = palette;
    return document;
}

std::string_view paletteSource(const PaletteDocument& document)
{
    return document.fromPlayer ? "player" : "notification";
}

std::string paletteJSON(const PaletteDocument& document)
{
    std::string json = "{\"colours\": [";
    for (std::size_t i = 0; i < document.colours.size(); ++i) {
        if (i > 0)
            json += ", ";
        appendJsonString(json, document.colours[i]);
    }
    json += "], \"background\": ";
    appendJsonString(json, document.background);
    json += ", \"foreground\": ";
    appendJsonString(json, document.foreground);
    json += ", \"accent\": ";
    appendJsonString(json, document.accent);
    json += document.pinned ? ", \"pinned\": true" : ", \"pinned\": false";
    json += ", \"track\": {\"source\": ";
    appendJsonString(json, paletteSource(document));
    json += ", \"title\": ";
    appendJsonString(json, document.track.title);
    json += ", \"artist\": ";
    appendJsonString(json, document.track.artist);
    json += ", \"album\": ";
    appendJsonString(json, document.track.album);
    json += "}}";
    return json;
}

} // namespace glowcast
