#pragma once

#include "core/colour/perceptual.h"
#include "core/ports/cover_image.h"

#include <cstddef>
#include <vector>

namespace glowcast {

// A group of a cover's pixels: their mean colour and how much of the cover they are (each pixel
// counts by its opacity, so a fully transparent pixel counts nothing).
struct ColourCluster {
    Oklab centre;
    double weight = 0.0;
    friend bool operator==(const ColourCluster&, const ColourCluster&) = default;
};

// Groups the pixels of a canvas into at most maximum clusters of similar colour, heaviest first:
// the distinct colours (four bits a channel) are split where the split lowers the spread most, box
// after box, and the boxes' means are then refined by weighted k-means. Deterministic; memory in
// proportion to the canvas. A canvas whose size and bytes disagree, or with nothing opaque, gives none.
[[nodiscard]] std::vector<ColourCluster> quantiseColours(const PixelCanvas& canvas, std::size_t maximum);

} // namespace glowcast
