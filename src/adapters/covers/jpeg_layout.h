#pragma once

#include <cstdint>
#include <span>

namespace glowcast {

// What a JPEG's markers up to its first scan tell about decoding it.
struct JpegLayout {
    bool complete = false; // the stream reaches an end-of-image marker after its first scan
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

// Reads the frame header (the first SOFn) and the first scan header. A JPEG decoder quietly
// completes a truncated cover with grey, so the stream is also checked to reach its end-of-image
// marker: the marker segments are walked up to the first scan (markers inside an embedded
// thumbnail are skipped), then FF D9 is looked for in the scan data, where any other FF is followed
// by 00 or a restart number.
[[nodiscard]] JpegLayout readJpegLayout(std::span<const std::uint8_t> bytes);

} // namespace glowcast
