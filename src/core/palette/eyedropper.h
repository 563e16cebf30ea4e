#pragma once

#include "core/colour/colour.h"
#include "core/ports/cover_image.h"
#include "core/ports/log.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace glowcast {

// One quantised colour of a cover and how many of the counted pixels have it.
struct ColourTally {
    std::int32_t occurrences = 0;
    std::string keyText; // the colour number as decimal digits, as it was counted under
    std::int32_t colourNumber = 0;
    friend bool operator==(const ColourTally&, const ColourTally&) = default;
};

// Finds the dominant colours of one cover: redraws it at 80 x 80, tallies the quantised colours of
// the saturated or bright pixels, takes the most frequent mutually distinct ones and repeats them
// until the list is as long as asked.
class Eyedropper {
public:
    // image may be null (a cover that did not decode); it must outlive the extractor.
    Eyedropper(const CoverImage* image, Log& log);

    [[nodiscard]] std::vector<Colour> getColours(std::int32_t n);
    // The 80 x 80 redraw of the latest getColours(), or null before the first.
    [[nodiscard]] const PixelCanvas* getProcessedImage() const;
    // The colour a quantised colour number stands for, at this extractor's quantisation step.
    [[nodiscard]] Colour colourOfNumber(std::int32_t colourNumber) const;

    // Whether a pixel of this colour is counted: fairly saturated and not dark, or very bright.
    [[nodiscard]] static bool passesPixelFilter(const Colour& pixel);

    // The side of the square the cover is redrawn into.
    static constexpr int kCanvasSide = 80;

private:
    const CoverImage* m_image;
    Log& m_log;
    std::optional<PixelCanvas> m_processedImage;
    std::int32_t m_granularity = 32;
};

} // namespace glowcast
