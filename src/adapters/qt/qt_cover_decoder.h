#pragma once

#include "core/ports/cover_image.h"
#include "core/ports/log.h"

#include <QImage>
#include <QSize>

#include <cstdint>
#include <memory>
#include <span>
#include <string>

class QIODevice;

namespace glowcast {

// A decoded cover, already reduced to the size it will be drawn at.
class QtCoverImage final : public CoverImage {
public:
    explicit QtCoverImage(QImage image);
    [[nodiscard]] PixelCanvas drawInto(int width, int height) const override;
    [[nodiscard]] const QImage& image() const { return m_image; }

private:
    QImage m_image;
};

// A decoded cover, or why there is none ("the cover is not an image in a format this system reads").
struct DecodedCover {
    std::unique_ptr<QtCoverImage> image;
    std::string refusal; // empty when there is an image
};

// Decodes covers with Qt's image readers (JPEG, PNG, GIF, BMP, WebP and whatever else the
// installed image plugins read). A cover is decoded straight at decodeSize where the format can
// (JPEG scales while it decodes) and otherwise decoded whole and reduced with an area-averaging
// filter, so the image kept is never larger than decodeSize. Before decoding, the most memory the
// decode would take at once (the image as the reader makes it, what scaling it down adds, a JPEG's
// buffered coefficients) is worked out from the header and checked against a fixed budget; a cover
// over it is refused unread, as is a JPEG with fewer bytes than its claimed size needs.
class QtCoverDecoder final : public CoverDecoder {
public:
    static constexpr std::int64_t kMemoryBudgetBytes = std::int64_t{256} * 1024 * 1024;

    explicit QtCoverDecoder(Log& log, QSize decodeSize = QSize(80, 80),
                            std::int64_t memoryBudgetBytes = kMemoryBudgetBytes);

    // Logs the refusal as "cover decoder: " and why.
    [[nodiscard]] std::unique_ptr<CoverImage> decode(std::span<const std::uint8_t> bytes) override;
    // The same without a log line: the cover, or why it was refused.
    [[nodiscard]] DecodedCover decodeCover(std::span<const std::uint8_t> bytes) const;

private:
    [[nodiscard]] DecodedCover decodeFrom(QIODevice& device) const;

    Log& m_log;
    QSize m_decodeSize;
    std::int64_t m_memoryBudgetBytes;
};

} // namespace glowcast
