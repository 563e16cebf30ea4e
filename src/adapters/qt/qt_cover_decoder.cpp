#include "adapters/qt/qt_cover_decoder.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>

namespace glowcast {

namespace {

std::string text(const QString& string)
{
    return string.toStdString();
}

DecodedCover refused(std::string why)
{
    return {nullptr, std::move(why)};
}

// The size JPEG decoding will produce: the reader scales by M/8 (M from 1 to 8), the smallest
// scale that still covers the wanted size in both directions.
QSize jpegDecodedSize(QSize full, QSize wanted)
{
    const double ratio = std::min(static_cast<double>(full.width()) / wanted.width(),
                                  static_cast<double>(full.height()) / wanted.height());
    const auto eighths = static_cast<std::int64_t>(std::clamp(std::ceil(8.0 / ratio), 1.0, 8.0));
    const auto scaled = [eighths](int side) { return static_cast<int>((side * eighths + 7) / 8); };
    return QSize(scaled(full.width()), scaled(full.height()));
}

// What a JPEG's markers up to its first scan tell about decoding it.
struct JpegLayout {
    bool complete = false; // the stream reaches an end-of-image marker after its first scan
    QSize size;
    bool huffman = true;
    // Progressive, or a first scan without every component: the decoder then holds every
    // coefficient of the whole image, whatever the scale it decodes at.
    bool buffered = false;
    std::int64_t coefficientBytes = 0;
    std::int64_t fullBlocks = 0; // 8 x 8 blocks of the component with the most samples
};

// Reads the frame header (the first SOFn) and the first scan header. The JPEG reader quietly
// completes a truncated cover with grey, so the stream is also checked to reach its end-of-image
// marker: the marker segments are walked up to the first scan (markers inside an embedded
// thumbnail are skipped), then FF D9 is looked for in the scan data, where any other FF is followed
// by 00 or a restart number.
JpegLayout readJpegLayout(QIODevice& device)
{
    JpegLayout layout;
    const auto readByte = [&device]() -> int {
        char c = 0;
        return device.getChar(&c) ? static_cast<unsigned char>(c) : -1;
    };
    if (!device.seek(0) || readByte() != 0xFF || readByte() != 0xD8)
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
        const qint64 length = (high << 8 | low) - 2;
        const bool frame = byte >= 0xC0 && byte <= 0xCF && byte != 0xC4 && byte != 0xC8 && byte != 0xCC;
        if (!frame && byte != 0xDA) {
            if (device.skip(length) != length)
                return layout;
            continue;
        }
        const QByteArray segment = device.read(length);
        if (segment.size() != length)
            return layout;
        const auto at = [&segment](int index) { return static_cast<unsigned char>(segment[index]); };
        if (frame && components == 0 && segment.size() >= 6) {
            components = std::min<int>(at(5), static_cast<int>((segment.size() - 6) / 3));
            layout.size = QSize(at(3) << 8 | at(4), at(1) << 8 | at(2));
            layout.huffman = byte < 0xC8;
            layout.buffered = byte == 0xC2 || byte == 0xC6 || byte == 0xCA || byte == 0xCE;
            int widest = 1;
            int tallest = 1;
            for (int c = 0; c < components; ++c) {
                widest = std::max(widest, at(7 + 3 * c) >> 4);
                tallest = std::max(tallest, at(7 + 3 * c) & 0x0F);
            }
            // Coefficient arrays are kept in whole MCUs: 64 coefficients of 2 bytes per block.
            const std::int64_t mcuColumns = (layout.size.width() + 8 * widest - 1) / (8 * widest);
            const std::int64_t mcuRows = (layout.size.height() + 8 * tallest - 1) / (8 * tallest);
            for (int c = 0; c < components; ++c)
                layout.coefficientBytes +=
                    mcuColumns * std::max(1, at(7 + 3 * c) >> 4) * mcuRows * std::max(1, at(7 + 3 * c) & 0x0F) * 128;
            layout.fullBlocks = std::int64_t{(layout.size.width() + 7) / 8} * ((layout.size.height() + 7) / 8);
        }
        if (byte == 0xDA) {
            if (segment.isEmpty() || at(0) < components)
                layout.buffered = true;
            break;
        }
    }
    // Scanned in a buffer on the stack: a heap buffer per cover made the allocator give memory
    // back and take it again on every decode.
    std::array<char, 16 * 1024> chunk{};
    bool previousWasFF = false;
    for (;;) {
        const qint64 size = device.read(chunk.data(), static_cast<qint64>(chunk.size()));
        if (size <= 0)
            return layout;
        const char* data = chunk.data();
        const char* const end = data + size;
        if (previousWasFF && static_cast<unsigned char>(data[0]) == 0xD9) {
            layout.complete = true;
            return layout;
        }
        for (const char* at = data;
             (at = static_cast<const char*>(std::memchr(at, 0xFF, static_cast<std::size_t>(end - at)))) != nullptr;
             ++at) {
            if (at + 1 < end && static_cast<unsigned char>(at[1]) == 0xD9) {
                layout.complete = true;
                return layout;
            }
        }
        previousWasFF = static_cast<unsigned char>(end[-1]) == 0xFF;
    }
}

std::int64_t bytesPerPixel(QImage::Format format)
{
    return format == QImage::Format_Invalid ? 4 : (QImage::toPixelFormat(format).bitsPerPixel() + 7) / 8;
}

// What QImage's smooth scaling allocates per pixel on top of the image it scales: nothing for the
// formats it scales as they are; otherwise a converted copy (4 bytes a pixel, 8 for more than 8
// bits a channel, 16 for floating point) and, when the sizes differ, a copy of the source too.
std::int64_t scalingBytesPerPixel(QImage::Format format)
{
    switch (format) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32_Premultiplied:
    case QImage::Format_RGBX8888:
    case QImage::Format_RGBA8888_Premultiplied:
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64_Premultiplied:
    case QImage::Format_RGBX32FPx4:
    case QImage::Format_RGBA32FPx4_Premultiplied:
        return 0;
    default:
        break;
    }
    const QPixelFormat pixel = QImage::toPixelFormat(format);
    const std::int64_t own = bytesPerPixel(format);
    std::int64_t converted = 4;
    if (pixel.typeInterpretation() == QPixelFormat::FloatingPoint)
        converted = 16;
    else if (format == QImage::Format_Grayscale16 || own == 8 || pixel.redSize() > 8 || pixel.blueSize() > 8)
        converted = 8;
    return converted + (own == converted ? 0 : own);
}

constexpr qint64 kBmpHeaderBytes = 34;

std::uint32_t littleEndian(const QByteArray& bytes, int at, int count)
{
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// An uncompressed BMP whose rows, as its header describes them, need more bytes than there are.
bool bmpIsCutShort(const QByteArray& head, qint64 totalSize)
{
    if (head.size() < kBmpHeaderBytes || !head.startsWith("BM"))
        return false;
    const std::uint32_t pixelOffset = littleEndian(head, 10, 4);
    const std::uint32_t infoSize = littleEndian(head, 14, 4);
    if (infoSize < 40)
        return false; // the old core header: left to the reader
    const auto width = static_cast<std::int32_t>(littleEndian(head, 18, 4));
    const auto height = static_cast<std::int32_t>(littleEndian(head, 22, 4));
    const std::uint32_t bitsPerPixel = littleEndian(head, 28, 2);
    const std::uint32_t compression = littleEndian(head, 30, 4);
    if ((compression != 0 && compression != 3) || width <= 0 || height == 0 || bitsPerPixel == 0)
        return false;
    const std::int64_t stride = (std::int64_t{width} * bitsPerPixel + 31) / 32 * 4;
    const std::int64_t rows = height < 0 ? -std::int64_t{height} : std::int64_t{height};
    // Compared by division: a header may claim rows and strides whose product overflows.
    const std::int64_t available = totalSize - std::int64_t{pixelOffset};
    return available < 0 || rows > available / stride;
}

// The format Qt's WebP reader decodes into, which it names only after decoding: 32 bits a pixel,
// with alpha when the header says so (lossless: a bit after the size; extended: a flag).
QImage::Format webpFormat(const QByteArray& head)
{
    if (head.size() >= 30 && head.startsWith("RIFF") && head.mid(8, 7) == "WEBPVP8") {
        if (head[15] == ' ')
            return QImage::Format_RGB32;
        if (head[15] == 'L')
            return (static_cast<unsigned char>(head[24]) & 0x10) != 0 ? QImage::Format_ARGB32 : QImage::Format_RGB32;
        if (head[15] == 'X')
            return (static_cast<unsigned char>(head[20]) & 0x10) != 0 ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    }
    return QImage::Format_ARGB32;
}

// Qt's PNG reader reduces 8-bit colour images (RGB, RGBA, grey with alpha) row by row while it
// decodes them, when they are not interlaced and the wanted size fits inside the image.
bool pngScalesWhileDecoding(const QByteArray& head, QSize claimed, QSize wanted)
{
    if (head.size() < 29 || !head.startsWith("\x89PNG\r\n\x1a\n") || head.mid(12, 4) != "IHDR")
        return false;
    const int colourType = head[25];
    return head[24] == 8 && (colourType == 2 || colourType == 4 || colourType == 6) && head[28] == 0 &&
           wanted.width() <= claimed.width() && wanted.height() <= claimed.height();
}

// The most memory decoding a cover takes at once: the image as the reader makes it, what scaling
// it down to the wanted size adds, and for a buffered JPEG every coefficient of the whole image.
// JPEG decodes at a reduced scale; every other reader is counted as decoding the whole cover first.
std::int64_t decodingPeakBytes(const QByteArray& format, const QByteArray& head, QImage::Format pixelFormat,
                               QSize claimed, QSize wanted, const JpegLayout& layout)
{
    const bool larger = claimed.width() > wanted.width() || claimed.height() > wanted.height();
    // Such a PNG holds little at once, but it is still counted at 4 bytes a pixel of the whole
    // image: that also bounds the work of reading it.
    if (format == "png" && larger && pngScalesWhileDecoding(head, claimed, wanted))
        return std::int64_t{claimed.width()} * claimed.height() * 4;
    if (format == "webp")
        pixelFormat = webpFormat(head);
    QSize decoded = claimed;
    std::int64_t needed = 0;
    if (format == "jpeg") {
        decoded = larger ? jpegDecodedSize(claimed, wanted) : claimed;
        needed = layout.buffered ? layout.coefficientBytes : 0;
    }
    std::int64_t perPixel = bytesPerPixel(pixelFormat);
    if (larger && decoded != wanted)
        perPixel += scalingBytesPerPixel(pixelFormat == QImage::Format_Invalid ? QImage::Format_ARGB32 : pixelFormat);
    return needed + std::int64_t{decoded.width()} * decoded.height() * perPixel;
}

} // namespace

QtCoverImage::QtCoverImage(QImage image) : m_image(std::move(image))
{
}

PixelCanvas QtCoverImage::drawInto(int width, int height) const
{
    if (width <= 0 || height <= 0)
        return PixelCanvas{};
    QImage canvas(width, height, QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull())
        return PixelCanvas{};
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.drawImage(QRect(0, 0, width, height), m_image);
    }
    const QImage straight = canvas.convertToFormat(QImage::Format_RGBA8888);
    PixelCanvas pixels{width, height, {}};
    const auto rowBytes = static_cast<std::size_t>(width) * 4;
    pixels.rgba.resize(rowBytes * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y)
        std::copy_n(straight.constScanLine(y), rowBytes, pixels.rgba.data() + rowBytes * static_cast<std::size_t>(y));
    return pixels;
}

QtCoverDecoder::QtCoverDecoder(Log& log, QSize decodeSize, std::int64_t memoryBudgetBytes)
    : m_log(log), m_decodeSize(decodeSize), m_memoryBudgetBytes(std::max<std::int64_t>(memoryBudgetBytes, 1024 * 1024))
{
    if (!m_decodeSize.isValid() || m_decodeSize.isEmpty())
        m_decodeSize = QSize(80, 80);
}

std::unique_ptr<CoverImage> QtCoverDecoder::decode(std::span<const std::uint8_t> bytes)
{
    DecodedCover decoded = decodeCover(bytes);
    if (!decoded.image)
        m_log.write("cover decoder: " + decoded.refusal);
    return std::move(decoded.image);
}

DecodedCover QtCoverDecoder::decodeCover(std::span<const std::uint8_t> bytes) const
{
    if (bytes.empty())
        return refused("no cover bytes to decode");
    if (bytes.size() > static_cast<std::size_t>(m_memoryBudgetBytes))
        return refused("refusing a cover of " + std::to_string(bytes.size()) + " bytes");
    // Read in place: the reader streams from the caller's bytes without a copy.
    const QByteArray data =
        QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    return decodeFrom(buffer);
}

DecodedCover QtCoverDecoder::decodeFrom(QIODevice& device) const
{
    // The readers of these two formats quietly fill in what a cover cut short lacks; look first.
    const QByteArray head = device.peek(kBmpHeaderBytes);
    const bool jpeg = head.startsWith("\xFF\xD8\xFF");
    JpegLayout layout;
    if (jpeg) {
        layout = readJpegLayout(device);
        if (!device.seek(0) || !layout.complete) {
            return refused("the jpeg cover is cut short: it has no end-of-image marker");
        }
        // Every block costs a Huffman-coded stream at least one bit; fewer bytes than that are a
        // header claiming a size its data do not have.
        if (layout.huffman && device.size() < layout.fullBlocks / 8) {
            return refused("the jpeg cover is cut short: its header claims " + std::to_string(layout.size.width()) +
                           " x " + std::to_string(layout.size.height()) + " pixels, more than its " +
                           std::to_string(device.size()) + " bytes can hold");
        }
    } else if (bmpIsCutShort(head, device.size())) {
        return refused("the bmp cover is cut short: its pixels run past the end of the data");
    }
    // Naming the format spares the reader asking every installed plugin whether it reads the cover.
    QImageReader reader(&device, jpeg ? QByteArrayLiteral("jpeg") : QByteArray());
    reader.setAutoTransform(true);
    // Qt's own ceiling, in MiB, as a second line behind the check below.
    reader.setAllocationLimit(static_cast<int>(std::min<std::int64_t>(m_memoryBudgetBytes / (1024 * 1024), 1 << 30)));
    if (!reader.canRead()) {
        return refused("the cover is not an image in a format this system reads");
    }
    const QByteArray format = reader.format();
    QSize claimed = reader.size();
    // The GIF reader reports the first frame's size but allocates the whole logical screen.
    if (format == "gif" && head.size() >= 10)
        claimed = claimed.expandedTo(
            QSize(static_cast<int>(littleEndian(head, 6, 2)), static_cast<int>(littleEndian(head, 8, 2))));
    if (claimed.isValid() && !claimed.isEmpty()) {
        const std::int64_t needed =
            decodingPeakBytes(format, head, reader.imageFormat(), claimed, m_decodeSize, layout);
        if (needed > m_memoryBudgetBytes) {
            return refused("refusing a " + std::to_string(claimed.width()) + " x " + std::to_string(claimed.height()) +
                           " " + format.toStdString() + " cover: decoding it needs " +
                           std::to_string(needed / (1024 * 1024)) + " MiB, more than the " +
                           std::to_string(m_memoryBudgetBytes / (1024 * 1024)) + " MiB allowed");
        }
        if (claimed.width() > m_decodeSize.width() || claimed.height() > m_decodeSize.height())
            reader.setScaledSize(m_decodeSize);
    }
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        // Qt's own allocation limit refuses a cover this check let by with no reason of its own.
        const std::string why = text(reader.errorString());
        const bool overCeiling = claimed.isValid() && std::int64_t{claimed.width()} * claimed.height() * 4 >
                                                          std::int64_t{reader.allocationLimit()} * 1024 * 1024;
        return refused("could not decode the " + format.toStdString() + " cover: " +
                       (overCeiling ? "it is over Qt's own ceiling of " + std::to_string(reader.allocationLimit()) +
                                          " MiB for an image"
                        : why.empty() ? std::string{"the reader gave no reason"}
                                      : why));
    }
    if (image.width() > m_decodeSize.width() || image.height() > m_decodeSize.height())
        image = image.scaled(m_decodeSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return {std::make_unique<QtCoverImage>(image.convertToFormat(QImage::Format_ARGB32_Premultiplied)), {}};
}

} // namespace glowcast
