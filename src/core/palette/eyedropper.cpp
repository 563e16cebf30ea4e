#include "core/palette/eyedropper.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string>

namespace glowcast {

namespace {

constexpr int kChannelLevels = 9; // indices 0..8; 8 only for a component of exactly 1.0

std::string keyText(std::int32_t colourNumber)
{
    std::array<char, 16> digits{};
    const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), colourNumber).ptr;
    return std::string(digits.data(), end);
}

std::int32_t colourNumberFromKeyText(const std::string& text)
{
    std::int32_t number = 0;
    std::from_chars(text.data(), text.data() + text.size(), number);
    return number;
}

// Hue × 7.5 in double, narrowed to single, halves rounded away from zero: sector 0 is the first
// 24 degrees of the circle (and every grey), sectors 1..7 are 48 degrees each.
long hueSector(const Colour& colour)
{
    return std::lround(static_cast<float>(colour.hueComponent() * 7.5));
}

bool resembles(const Colour& a, long sectorA, const Colour& b)
{
    if (hueSector(b) == sectorA)
        return true;
    const double brightnessA = a.brightnessComponent();
    const double brightnessB = b.brightnessComponent();
    if (brightnessA < 0.35 && brightnessB < 0.35)
        return true;
    return brightnessA > 0.85 && brightnessB > 0.85;
}

std::string elementsLine(std::size_t count)
{
    return "returning array with " + std::to_string(static_cast<std::int32_t>(count)) + " elements";
}

} // namespace

Eyedropper::Eyedropper(const CoverImage* image, Log& log) : m_image(image), m_log(log)
{
}

std::vector<Colour> Eyedropper::getColours(std::int32_t n)
{
    // Redraw: a cover that did not decode leaves the canvas transparent, and then nothing counts.
    if (m_image != nullptr) {
        m_processedImage = m_image->drawInto(kCanvasSide, kCanvasSide);
    } else {
        m_processedImage = PixelCanvas{kCanvasSide, kCanvasSide,
                                       std::vector<std::uint8_t>(std::size_t{kCanvasSide} * kCanvasSide * 4, 0)};
    }
    const PixelCanvas& canvas = *m_processedImage;

    // Count. Each distinct colour number has one key text, so the tally is kept by channel indices
    // (at most 9 x 9 x 9 colours) and the key text is formed once per record below.
    std::array<std::int32_t, kChannelLevels * kChannelLevels * kChannelLevels> counts{};
    std::array<int, 256> channelIndex{};
    for (int byte = 0; byte < 256; ++byte)
        channelIndex[byte] = static_cast<int>(byte / 255.0 * 256.0 / m_granularity);
    const bool wholeCanvas =
        canvas.width > 0 && canvas.height > 0 &&
        canvas.rgba.size() == static_cast<std::size_t>(canvas.width) * static_cast<std::size_t>(canvas.height) * 4;
    if (wholeCanvas) {
        for (int x = 0; x < canvas.width; ++x) {
            for (int y = 0; y < canvas.height; ++y) {
                const std::uint8_t* pixel = &canvas.rgba[(static_cast<std::size_t>(y) * canvas.width + x) * 4];
                const Colour colour{pixel[0] / 255.0, pixel[1] / 255.0, pixel[2] / 255.0, pixel[3] / 255.0};
                if (!passesPixelFilter(colour))
                    continue;
                ++counts[(channelIndex[pixel[2]] * kChannelLevels + channelIndex[pixel[1]]) * kChannelLevels +
                         channelIndex[pixel[0]]];
            }
        }
    }

    // Tallies.
    std::vector<ColourTally> tallies;
    for (int blue = 0; blue < kChannelLevels; ++blue) {
        for (int green = 0; green < kChannelLevels; ++green) {
            for (int red = 0; red < kChannelLevels; ++red) {
                const std::int32_t count = counts[(blue * kChannelLevels + green) * kChannelLevels + red];
                if (count == 0)
                    continue;
                const std::int32_t number = red + 256 * green + 65536 * blue;
                tallies.push_back(ColourTally{count, keyText(number), number});
            }
        }
    }

    // Sort, most frequent first. Equal counts: the smaller colour number comes first, so the
    // result never depends on the order in which colours were met.
    std::sort(tallies.begin(), tallies.end(), [](const ColourTally& a, const ColourTally& b) {
        if (a.occurrences != b.occurrences)
            return a.occurrences > b.occurrences;
        return a.colourNumber < b.colourNumber;
    });

    // Select: take the most frequent record, strike out every later one that resembles it, repeat.
    std::vector<Colour> result;
    if (n > 0)
        result.reserve(static_cast<std::size_t>(n));
    std::size_t p = 0;
    for (std::int32_t pick = 0; pick < n && p < tallies.size(); ++pick, ++p) {
        const Colour a = colourOfNumber(colourNumberFromKeyText(tallies[p].keyText));
        result.push_back(a);
        const long sectorA = hueSector(a);
        std::size_t j = p + 1;
        while (j < tallies.size()) {
            const Colour b = colourOfNumber(colourNumberFromKeyText(tallies[j].keyText));
            if (resembles(a, sectorA, b))
                tallies.erase(tallies.begin() + static_cast<std::ptrdiff_t>(j));
            else
                ++j;
        }
    }
    m_log.write(elementsLine(result.size()));

    // Fill by repeating the taken colours in order. With nothing taken there is nothing to
    // repeat: the list stays empty and the caller shows white and sends zero bodies.
    const std::size_t taken = result.size();
    if (taken > 0) {
        for (std::size_t i = 0; static_cast<std::int64_t>(result.size()) < n; ++i)
            result.push_back(result[i % taken]);
    }
    m_log.write(elementsLine(result.size()));
    return result;
}

bool Eyedropper::passesPixelFilter(const Colour& pixel)
{
    const double brightness = pixel.brightnessComponent();
    return (pixel.saturationComponent() > 0.5 && brightness > 0.35) || brightness > 0.85;
}

const PixelCanvas* Eyedropper::getProcessedImage() const
{
    return m_processedImage ? &*m_processedImage : nullptr;
}

Colour Eyedropper::colourOfNumber(std::int32_t colourNumber) const
{
    const std::int32_t blueIndex = colourNumber / 65536;
    const std::int32_t greenIndex = (colourNumber - 65536 * blueIndex) / 256;
    const std::int32_t redIndex = colourNumber - 256 * greenIndex - 65536 * blueIndex;
    const auto component = [this](std::int32_t index) {
        return static_cast<double>(static_cast<float>(index * m_granularity) / 256.0F);
    };
    return Colour{component(redIndex), component(greenIndex), component(blueIndex), 1.0};
}

} // namespace glowcast
