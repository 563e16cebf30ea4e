#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace glowcast {

// Straight (not premultiplied) 8-bit RGBA pixels, row by row from the top left.
struct PixelCanvas {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba; // width * height * 4 bytes
    friend bool operator==(const PixelCanvas&, const PixelCanvas&) = default;
};

// One decoded cover.
class CoverImage {
public:
    virtual ~CoverImage() = default;
    // A new transparent canvas of the given size with the whole cover drawn into all of it:
    // scaled to fill (aspect not kept, nothing cropped), source-over, full opacity.
    [[nodiscard]] virtual PixelCanvas drawInto(int width, int height) const = 0;
};

// Turns the bytes of an image file into a cover. Returns null, after a log line, for bytes that do
// not decode or that would need more memory than the decoder allows. Blocks while it decodes.
class CoverDecoder {
public:
    virtual ~CoverDecoder() = default;
    [[nodiscard]] virtual std::unique_ptr<CoverImage> decode(std::span<const std::uint8_t> bytes) = 0;
};

} // namespace glowcast

namespace glowcast {

// Tells from its first bytes which kind of image a file holds, never from a name or a label.
class CoverSniffer {
public:
    virtual ~CoverSniffer() = default;
    // The format's short name ("jpeg", "png", ...), or nothing when no reader takes the bytes.
    [[nodiscard]] virtual std::optional<std::string> imageFormat(std::span<const std::uint8_t> bytes) = 0;
};

} // namespace glowcast
