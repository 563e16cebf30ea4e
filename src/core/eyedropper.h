#pragma once

#include "colour.h"
#include "ports/cover_image.h"
#include "ports/log.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace glowcast {

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
    [[nodiscard]] Colour colorFromSingleValue(std::int32_t colourNumber) const;

private:
    const CoverImage* m_image;
    Log& m_log;
    std::optional<PixelCanvas> m_processedImage;
    std::int32_t m_granularity = 32;
};

}  // namespace glowcast
