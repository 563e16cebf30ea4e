#include "qt_cover_decoder.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImageReader>
#include <QPainter>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace glowcast {

namespace {

std::string text(const QString& string)
{
    return string.toStdString();
}

// The size JPEG decoding will produce: the reader picks the largest of the 1/1, 1/2, 1/4 and 1/8
// scales that still covers the wanted size in both directions.
QSize jpegDecodedSize(QSize full, QSize wanted)
{
    const int ratio = std::min(full.width() / wanted.width(), full.height() / wanted.height());
    const int denominator = ratio >= 8 ? 8 : ratio >= 4 ? 4 : ratio >= 2 ? 2 : 1;
    return QSize((full.width() + denominator - 1) / denominator, (full.height() + denominator - 1) / denominator);
}

// Whether a JPEG stream reaches its end-of-image marker after its first scan. The JPEG reader
// quietly completes a truncated cover with grey; a cover cut short is refused instead. Walks the
// marker segments up to the first scan (so markers inside an embedded thumbnail are skipped), then
// looks for FF D9 in the scan data, where any other FF is followed by 00 or a restart number.
bool jpegReachesItsEnd(QIODevice& device)
{
    const auto readByte = [&device]() -> int {
        char c = 0;
        return device.getChar(&c) ? static_cast<unsigned char>(c) : -1;
    };
    if (!device.seek(0) || readByte() != 0xFF || readByte() != 0xD8)
        return false;
    for (;;) {
        int byte = readByte();
        if (byte != 0xFF)
            return false;
        while (byte == 0xFF)
            byte = readByte();
        if (byte < 0 || byte == 0xD9)
            return false;
        if (byte == 0xDA)
            break;
        if (byte == 0x01 || (byte >= 0xD0 && byte <= 0xD7))
            continue;
        const int high = readByte();
        const int low = readByte();
        if (high < 0 || low < 0 || (high << 8 | low) < 2)
            return false;
        const qint64 rest = (high << 8 | low) - 2;
        if (device.skip(rest) != rest)
            return false;
    }
    // Scanned in a buffer on the stack: a heap buffer per cover made the allocator give memory
    // back and take it again on every decode.
    std::array<char, 16 * 1024> chunk{};
    bool previousWasFF = false;
    for (;;) {
        const qint64 size = device.read(chunk.data(), static_cast<qint64>(chunk.size()));
        if (size <= 0)
            return false;
        const char* data = chunk.data();
        const char* const end = data + size;
        if (previousWasFF && static_cast<unsigned char>(data[0]) == 0xD9)
            return true;
        for (const char* at = data;
             (at = static_cast<const char*>(std::memchr(at, 0xFF, static_cast<std::size_t>(end - at)))) != nullptr;
             ++at) {
            if (at + 1 < end && static_cast<unsigned char>(at[1]) == 0xD9)
                return true;
        }
        previousWasFF = static_cast<unsigned char>(end[-1]) == 0xFF;
    }
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
    if (bytes.empty()) {
        m_log.write("cover decoder: no cover bytes to decode");
        return nullptr;
    }
    if (bytes.size() > static_cast<std::size_t>(m_memoryBudgetBytes)) {
        m_log.write("cover decoder: refusing a cover of " + std::to_string(bytes.size()) + " bytes");
        return nullptr;
    }
    // Read in place: the reader streams from the caller's bytes without a copy.
    const QByteArray data =
        QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    return decodeFrom(buffer);
}

std::unique_ptr<CoverImage> QtCoverDecoder::decodeFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_log.write("cover decoder: cannot read " + text(path) + ": " + text(file.errorString()));
        return nullptr;
    }
    if (file.size() == 0) {
        m_log.write("cover decoder: no cover bytes to decode");
        return nullptr;
    }
    return decodeFrom(file);
}

std::unique_ptr<CoverImage> QtCoverDecoder::decodeFrom(QIODevice& device)
{
    // The readers of these two formats quietly fill in what a cover cut short lacks; look first.
    const QByteArray head = device.peek(kBmpHeaderBytes);
    const bool jpeg = head.startsWith("\xFF\xD8\xFF");
    if (jpeg) {
        const bool complete = jpegReachesItsEnd(device);
        if (!device.seek(0) || !complete) {
            m_log.write("cover decoder: the jpeg cover is cut short: it has no end-of-image marker");
            return nullptr;
        }
    } else if (bmpIsCutShort(head, device.size())) {
        m_log.write("cover decoder: the bmp cover is cut short: its pixels run past the end of the data");
        return nullptr;
    }
    // Naming the format spares the reader asking every installed plugin whether it reads the cover.
    QImageReader reader(&device, jpeg ? QByteArrayLiteral("jpeg") : QByteArray());
    reader.setAutoTransform(true);
    // Qt's own ceiling, in MiB, as a second line behind the check below.
    reader.setAllocationLimit(static_cast<int>(std::min<std::int64_t>(m_memoryBudgetBytes / (1024 * 1024), 1 << 30)));
    if (!reader.canRead()) {
        m_log.write("cover decoder: the cover is not an image in a format this system reads");
        return nullptr;
    }
    const QByteArray format = reader.format();
    QSize claimed = reader.size();
    // The GIF reader reports the first frame's size but allocates the whole logical screen.
    if (format == "gif" && head.size() >= 10)
        claimed = claimed.expandedTo(
            QSize(static_cast<int>(littleEndian(head, 6, 2)), static_cast<int>(littleEndian(head, 8, 2))));
    QSize decoded = claimed;
    if (claimed.isValid() && !claimed.isEmpty()) {
        const bool larger = claimed.width() > m_decodeSize.width() || claimed.height() > m_decodeSize.height();
        // Only JPEG is known to decode at a reduced size; every other reader is counted as
        // decoding the whole cover first.
        if (larger && format == "jpeg")
            decoded = jpegDecodedSize(claimed, m_decodeSize);
        const QImage::Format pixelFormat = reader.imageFormat();
        const int bitsPerPixel =
            pixelFormat == QImage::Format_Invalid
                ? 32
                : std::max(32, static_cast<int>(QImage::toPixelFormat(pixelFormat).bitsPerPixel()));
        const std::int64_t needed = std::int64_t{decoded.width()} * std::int64_t{decoded.height()} * (bitsPerPixel / 8);
        if (needed > m_memoryBudgetBytes) {
            m_log.write("cover decoder: refusing a " + std::to_string(claimed.width()) + " x " +
                        std::to_string(claimed.height()) + " " + format.toStdString() + " cover: decoding it needs " +
                        std::to_string(needed / (1024 * 1024)) + " MiB, more than the " +
                        std::to_string(m_memoryBudgetBytes / (1024 * 1024)) + " MiB allowed");
            return nullptr;
        }
        if (larger)
            reader.setScaledSize(m_decodeSize);
    }
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        m_log.write("cover decoder: could not decode the " + format.toStdString() +
                    " cover: " + text(reader.errorString()));
        return nullptr;
    }
    if (image.width() > m_decodeSize.width() || image.height() > m_decodeSize.height())
        image = image.scaled(m_decodeSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return std::make_unique<QtCoverImage>(image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
}

} // namespace glowcast
