#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace glowcast {

// What a JPEG's markers up to its first scan tell about decoding it.
struct JpegLayout {
    bool complete = false;    // the stream reaches an end-of-image marker after its first scan
    std::size_t scanData = 0; // where the first scan's coded data starts; 0 when the markers never reach it
    int width = 0;
    int height = 0;
    bool huffman = true;
    // Progressive, or a first scan without every component: the decoder then holds every
    // coefficient of the whole image, whatever the scale it decodes at.
    bool buffered = false;
    std::int64_t coefficientBytes = 0;
    std::int64_t fullBlocks = 0;        // 8 x 8 blocks of the component with the most samples
    std::span<const std::uint8_t> exif; // the first APP1 segment that starts with "Exif", if any
};

// Reads the frame header (the first SOFn) and the first scan header, walking the marker segments up
// to the first scan (markers inside an embedded thumbnail are skipped). Leaves complete false: the
// head given may end anywhere after the scan header.
[[nodiscard]] JpegLayout readJpegHeader(std::span<const std::uint8_t> head);

// Whether FF D9 is in the bytes. A JPEG decoder quietly completes a truncated cover with grey, so a
// cover's scan data must reach its end-of-image marker; there any other FF is followed by 00 or a
// restart number.
[[nodiscard]] bool holdsEndOfImage(std::span<const std::uint8_t> bytes);

// The header of a JPEG in memory, and whether its scan data reach an end-of-image marker.
[[nodiscard]] JpegLayout readJpegLayout(std::span<const std::uint8_t> bytes);

} // namespace glowcast
