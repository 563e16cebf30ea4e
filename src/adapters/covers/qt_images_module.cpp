// glowcast-qt-images: covers in the formats Glowcast does not decode itself, read with Qt's image
// readers. Everything here mirrors how the covers were read before PNG and JPEG got decoders of
// their own, so that such covers come out as they always did.
#include "adapters/covers/qt_images_module.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>

#include <algorithm>
#include <string>

namespace {

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

// The most memory decoding a cover takes at once: the whole image as the reader makes it, and what
// scaling it down to the wanted size adds.
std::int64_t decodingPeakBytes(const QByteArray& format, const QByteArray& head, QImage::Format pixelFormat,
                               QSize claimed, QSize wanted)
{
    const bool larger = claimed.width() > wanted.width() || claimed.height() > wanted.height();
    if (format == "webp")
        pixelFormat = webpFormat(head);
    std::int64_t perPixel = bytesPerPixel(pixelFormat);
    if (larger && claimed != wanted)
        perPixel += scalingBytesPerPixel(pixelFormat == QImage::Format_Invalid ? QImage::Format_ARGB32 : pixelFormat);
    return std::int64_t{claimed.width()} * claimed.height() * perPixel;
}

void refuse(GlowcastQtImagesDelivery deliver, void* context, const std::string& why)
{
    deliver(context, 0, 0, nullptr, why.c_str());
}

} // namespace

extern "C" __attribute__((visibility("default"))) void
glowcast_qt_images_decode(const GlowcastQtImagesRequest* request, GlowcastQtImagesDelivery deliver, void* context)
{
    const QSize wanted(request->decodeWidth, request->decodeHeight);
    const std::int64_t budget = request->memoryBudgetBytes;
    QBuffer device;
    device.setData(
        QByteArray::fromRawData(reinterpret_cast<const char*>(request->bytes), static_cast<qsizetype>(request->size)));
    device.open(QIODevice::ReadOnly);
    // The BMP reader quietly fills in what a cover cut short lacks; look first.
    const QByteArray head = device.peek(kBmpHeaderBytes);
    if (bmpIsCutShort(head, device.size()))
        return refuse(deliver, context, "the bmp cover is cut short: its pixels run past the end of the data");
    QImageReader reader(&device);
    reader.setAutoTransform(true);
    // Qt's own ceiling, in MiB, as a second line behind the check below.
    reader.setAllocationLimit(static_cast<int>(std::min<std::int64_t>(budget / (1024 * 1024), 1 << 30)));
    if (!reader.canRead())
        return refuse(deliver, context, "the cover is not an image in a format this system reads");
    const QByteArray format = reader.format();
    QSize claimed = reader.size();
    // The GIF reader reports the first frame's size but allocates the whole logical screen.
    if (format == "gif" && head.size() >= 10)
        claimed = claimed.expandedTo(
            QSize(static_cast<int>(littleEndian(head, 6, 2)), static_cast<int>(littleEndian(head, 8, 2))));
    if (claimed.isValid() && !claimed.isEmpty()) {
        const std::int64_t needed = decodingPeakBytes(format, head, reader.imageFormat(), claimed, wanted);
        if (needed > budget) {
            return refuse(deliver, context,
                          "refusing a " + std::to_string(claimed.width()) + " x " + std::to_string(claimed.height()) +
                              " " + format.toStdString() + " cover: decoding it needs " +
                              std::to_string(needed / (1024 * 1024)) + " MiB, more than the " +
                              std::to_string(budget / (1024 * 1024)) + " MiB allowed");
        }
        if (claimed.width() > wanted.width() || claimed.height() > wanted.height())
            reader.setScaledSize(wanted);
    }
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        // Qt's own allocation limit refuses a cover the check above let by with no reason of its own.
        const std::string why = reader.errorString().toStdString();
        const bool overCeiling = claimed.isValid() && std::int64_t{claimed.width()} * claimed.height() * 4 >
                                                          std::int64_t{reader.allocationLimit()} * 1024 * 1024;
        return refuse(deliver, context,
                      "could not decode the " + format.toStdString() + " cover: " +
                          (overCeiling ? "it is over Qt's own ceiling of " + std::to_string(reader.allocationLimit()) +
                                             " MiB for an image"
                           : why.empty() ? std::string{"the reader gave no reason"}
                                         : why));
    }
    if (image.width() > wanted.width() || image.height() > wanted.height())
        image = image.scaled(wanted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    image.convertTo(QImage::Format_RGBA8888_Premultiplied);
    if (image.isNull() || image.bytesPerLine() != qsizetype{image.width()} * 4)
        return refuse(deliver, context, "could not decode the " + format.toStdString() + " cover: out of memory");
    deliver(context, image.width(), image.height(), image.constBits(), nullptr);
}

extern "C" __attribute__((visibility("default"))) int
glowcast_qt_images_format(const std::uint8_t* bytes, std::size_t size, char* name, std::size_t capacity)
{
    QBuffer device;
    device.setData(QByteArray::fromRawData(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(size)));
    device.open(QIODevice::ReadOnly);
    QImageReader reader(&device);
    reader.setDecideFormatFromContent(true);
    if (!reader.canRead())
        return 0;
    const QByteArray format = reader.format();
    if (static_cast<std::size_t>(format.size()) >= capacity)
        return 0;
    std::copy_n(format.constData(), format.size(), name);
    name[format.size()] = '\0';
    return 1;
}
