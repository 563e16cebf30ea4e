#pragma once

#include "adapters/covers/cover_pixels.h"
#include "core/ports/cover_image.h"
#include "core/ports/log.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace glowcast {

class CoverFileStream;
struct JpegLayout;

// A decoded cover, already reduced to the size it will be drawn at.
class DecodedCoverImage final : public CoverImage {
public:
    explicit DecodedCoverImage(CoverPixels pixels) : m_pixels(std::move(pixels)) {}
    [[nodiscard]] PixelCanvas drawInto(int width, int height) const override;
    [[nodiscard]] const CoverPixels& pixels() const { return m_pixels; }

private:
    CoverPixels m_pixels;
};

// A decoded cover, or why there is none ("the cover is not an image in a format this system reads").
struct DecodedCover {
    std::unique_ptr<DecodedCoverImage> image;
    std::string refusal; // empty when there is an image
    std::string note;    // what was ignored in a cover that still decoded (a broken orientation tag)
};

// Decodes covers: PNG with libspng and JPEG with libjpeg-turbo here, every other format (GIF, BMP,
// WebP and whatever else the installed image plugins read) with Qt's image readers in the
// glowcast-qt-images module, opened when such a cover first arrives. A cover larger than decodeSize
// in either side is kept at exactly decodeSize, reduced with an area average as its rows are
// decoded (a JPEG first scales while it decodes, to the smallest eighth that still covers
// decodeSize); a JPEG is turned upright as its Exif orientation says. Before decoding, the most
// memory the decode would take at once is worked out from the header and checked against a fixed
// budget; a cover over it is refused unread, as is a JPEG with fewer bytes than its claimed size needs.
class CoverFileDecoder final : public CoverDecoder {
public:
    static constexpr std::int64_t kMemoryBudgetBytes = std::int64_t{256} * 1024 * 1024;
    static constexpr int kDecodeSide = 80;

    explicit CoverFileDecoder(Log& log, int decodeSide = kDecodeSide,
                              std::int64_t memoryBudgetBytes = kMemoryBudgetBytes);

    // Logs the refusal, or what was ignored, as "cover decoder: " and why.
    [[nodiscard]] std::unique_ptr<CoverImage> decode(std::span<const std::uint8_t> bytes) override;
    // The same without a log line: the cover, or why it was refused.
    [[nodiscard]] DecodedCover decodeCover(std::span<const std::uint8_t> bytes) const;
    // The same for an open regular file of size bytes (its offset is left as it was): a PNG or a
    // JPEG is read through a buffer of 64 KiB and never held whole, any other format whole. Nothing
    // past size is read; a file that changes meanwhile still gives a cover or a refusal.
    [[nodiscard]] DecodedCover decodeCoverFile(int descriptor, std::int64_t size) const;

private:
    // The bytes in memory, or the file when there is one.
    [[nodiscard]] DecodedCover decodePng(std::span<const std::uint8_t> bytes, CoverFileStream* file) const;
    [[nodiscard]] DecodedCover decodeJpeg(const JpegLayout& layout, std::int64_t size,
                                          std::span<const std::uint8_t> bytes, CoverFileStream* file) const;
    [[nodiscard]] DecodedCover decodeWithQt(std::span<const std::uint8_t> bytes) const;
    [[nodiscard]] std::string overBudget(int width, int height, const char* format, std::int64_t needed) const;

    Log& m_log;
    int m_decodeSide;
    std::int64_t m_memoryBudgetBytes;
};

// Tells PNG and JPEG by their first bytes, and asks the glowcast-qt-images module about the rest.
class CoverFileSniffer final : public CoverSniffer {
public:
    explicit CoverFileSniffer(Log& log) : m_log(log) {}
    [[nodiscard]] std::optional<std::string> imageFormat(std::span<const std::uint8_t> bytes) override;

private:
    Log& m_log;
};

} // namespace glowcast
