#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace glowcast {

// How a camera says its picture is to be turned: 1 (as stored) to 8, as cover_pixels.h spells out.
struct ExifOrientation {
    int value = 1;
    std::string problem; // why a tag that is there could not be used; empty when all was well
    friend bool operator==(const ExifOrientation&, const ExifOrientation&) = default;
};

// Reads the orientation tag from a JPEG's APP1 segment (its bytes after the length: "Exif", two
// zeros, then a TIFF header and the first image directory). Anything else, or a segment without the
// tag, is orientation 1. Never reads outside the segment; visits each directory entry once.
[[nodiscard]] ExifOrientation exifOrientation(std::span<const std::uint8_t> segment);

} // namespace glowcast
