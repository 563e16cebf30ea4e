#include "adapters/covers/exif_orientation.h"

#include <algorithm>
#include <array>

namespace glowcast {

namespace {

constexpr std::array<std::uint8_t, 6> kExifHeader{'E', 'x', 'i', 'f', 0, 0};
constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::uint16_t kShortType = 3;

ExifOrientation unusable(std::string why)
{
    return {1, "ignoring the cover's orientation: " + std::move(why)};
}

} // namespace

ExifOrientation exifOrientation(std::span<const std::uint8_t> segment)
{
    if (segment.size() < kExifHeader.size() || !std::equal(kExifHeader.begin(), kExifHeader.end(), segment.begin()))
        return {};
    const std::span<const std::uint8_t> tiff = segment.subspan(kExifHeader.size());
    if (tiff.size() < 8)
        return unusable("its Exif header is cut short");
    const bool little = tiff[0] == 'I' && tiff[1] == 'I';
    if (!little && !(tiff[0] == 'M' && tiff[1] == 'M'))
        return unusable("its Exif byte order is neither II nor MM");
    const auto number = [&tiff, little](std::size_t at, std::size_t bytes) {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            value |= std::uint32_t{tiff[at + i]} << (8 * (little ? i : bytes - 1 - i));
        return value;
    };
    if (number(2, 2) != 42)
        return unusable("its Exif header lacks the number 42");
    const std::uint32_t directory = number(4, 4);
    if (directory > tiff.size() - 2)
        return unusable("its first Exif directory lies past the end of the segment");
    const std::uint32_t entries = number(directory, 2);
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::size_t entry = std::size_t{directory} + 2 + std::size_t{i} * 12;
        if (entry + 12 > tiff.size())
            return unusable("its Exif directory runs past the end of the segment");
        if (number(entry, 2) != kOrientationTag)
            continue;
        if (number(entry + 2, 2) != kShortType || number(entry + 4, 4) != 1)
            return unusable("its orientation is not one whole number");
        const auto value = static_cast<int>(number(entry + 8, 2));
        if (value < 1 || value > 8)
            return unusable("orientation " + std::to_string(value) + " is not one of 1 to 8");
        return {value, {}};
    }
    return {};
}

} // namespace glowcast
