#include "adapters/covers/jpeg_layout.h"

#include <algorithm>
#include <cstring>

namespace glowcast {

JpegLayout readJpegHeader(std::span<const std::uint8_t> bytes)
{
    JpegLayout layout;
    std::size_t next = 0;
    const auto readByte = [&bytes, &next]() -> int { return next < bytes.size() ? bytes[next++] : -1; };
    if (readByte() != 0xFF || readByte() != 0xD8)
        return layout;
    int components = 0;
    for (;;) {
        int byte = readByte();
        if (byte != 0xFF)
            return layout;
        while (byte == 0xFF)
            byte = readByte();
        if (byte < 0 || byte == 0xD9)
            return layout;
        if (byte == 0x01 || (byte >= 0xD0 && byte <= 0xD7))
            continue;
        const int high = readByte();
        const int low = readByte();
        if (high < 0 || low < 0 || (high << 8 | low) < 2)
            return layout;
        const auto length = static_cast<std::size_t>((high << 8 | low) - 2);
        if (length > bytes.size() - next)
            return layout;
        const std::span<const std::uint8_t> segment = bytes.subspan(next, length);
        next += length;
        const bool frame = byte >= 0xC0 && byte <= 0xCF && byte != 0xC4 && byte != 0xC8 && byte != 0xCC;
        if (byte == 0xE1 && layout.exif.empty() && segment.size() >= 4 && std::memcmp(segment.data(), "Exif", 4) == 0)
            layout.exif = segment;
        const auto at = [&segment](std::size_t index) { return int{segment[index]}; };
        if (frame && components == 0 && segment.size() >= 6) {
            components = std::min<int>(at(5), static_cast<int>((segment.size() - 6) / 3));
            layout.width = at(3) << 8 | at(4);
            layout.height = at(1) << 8 | at(2);
            layout.huffman = byte < 0xC8;
            layout.buffered = byte == 0xC2 || byte == 0xC6 || byte == 0xCA || byte == 0xCE;
            int widest = 1;
            int tallest = 1;
            for (int c = 0; c < components; ++c) {
                widest = std::max(widest, at(static_cast<std::size_t>(7 + 3 * c)) >> 4);
                tallest = std::max(tallest, at(static_cast<std::size_t>(7 + 3 * c)) & 0x0F);
            }
            // Coefficient arrays are kept in whole MCUs: 64 coefficients of 2 bytes per block.
            const std::int64_t mcuColumns = (layout.width + 8 * widest - 1) / (8 * widest);
            const std::int64_t mcuRows = (layout.height + 8 * tallest - 1) / (8 * tallest);
            for (int c = 0; c < components; ++c) {
                const int sampling = at(static_cast<std::size_t>(7 + 3 * c));
                layout.coefficientBytes +=
                    mcuColumns * std::max(1, sampling >> 4) * mcuRows * std::max(1, sampling & 0x0F) * 128;
            }
            layout.fullBlocks = std::int64_t{(layout.width + 7) / 8} * ((layout.height + 7) / 8);
        }
        if (byte == 0xDA) {
            if (segment.empty() || at(0) < components)
                layout.buffered = true;
            layout.scanData = next;
            return layout;
        }
    }
}

bool holdsEndOfImage(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < 2)
        return false;
    const std::uint8_t* const end = bytes.data() + bytes.size();
    for (const std::uint8_t* at = bytes.data();
         (at = static_cast<const std::uint8_t*>(std::memchr(at, 0xFF, static_cast<std::size_t>(end - at)))) != nullptr;
         ++at) {
        if (at + 1 < end && at[1] == 0xD9)
            return true;
    }
    return false;
}

JpegLayout readJpegLayout(std::span<const std::uint8_t> bytes)
{
    JpegLayout layout = readJpegHeader(bytes);
    layout.complete = layout.scanData > 0 && holdsEndOfImage(bytes.subspan(layout.scanData));
    return layout;
}

} // namespace glowcast
