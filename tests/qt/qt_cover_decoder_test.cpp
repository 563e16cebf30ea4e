#include "adapters/qt_cover_decoder.h"
#include "core/eyedropper.h"
#include "fakes/colour_printing.h"
#include "fakes/recording_log.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

namespace glowcast {
namespace {

QByteArray encode(const QImage& image, const char* format, int quality = 95)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    EXPECT_TRUE(writer.write(image)) << format << ": " << writer.errorString().toStdString();
    return bytes;
}

void appendByte(QByteArray& bytes, unsigned value)
{
    bytes.append(static_cast<char>(value & 0xFF));
}

void appendLittle16(QByteArray& bytes, unsigned value)
{
    appendByte(bytes, value);
    appendByte(bytes, value >> 8);
}

void appendBig32(QByteArray& bytes, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        appendByte(bytes, value >> shift);
}

// Qt reads GIF but does not write it: an 8-bit GIF with a 256-entry palette, whose image data
// sends a clear code every 250 codes so that every code stays 9 bits wide.
QByteArray encodeGif(int width, int height, const std::vector<QRgb>& palette, const std::vector<std::uint8_t>& indices,
                     int claimedWidth = 0, int claimedHeight = 0)
{
    QByteArray bytes("GIF89a");
    appendLittle16(bytes, static_cast<unsigned>(claimedWidth > 0 ? claimedWidth : width));
    appendLittle16(bytes, static_cast<unsigned>(claimedHeight > 0 ? claimedHeight : height));
    appendByte(bytes, 0xF7); // global table of 256 entries, 8 bits per primary
    appendByte(bytes, 0);
    appendByte(bytes, 0);
    for (int i = 0; i < 256; ++i) {
        const QRgb rgb = i < static_cast<int>(palette.size()) ? palette[static_cast<std::size_t>(i)] : qRgb(0, 0, 0);
        appendByte(bytes, static_cast<unsigned>(qRed(rgb)));
        appendByte(bytes, static_cast<unsigned>(qGreen(rgb)));
        appendByte(bytes, static_cast<unsigned>(qBlue(rgb)));
    }
    bytes.append(',');
    appendLittle16(bytes, 0);
    appendLittle16(bytes, 0);
    appendLittle16(bytes, static_cast<unsigned>(width));
    appendLittle16(bytes, static_cast<unsigned>(height));
    appendByte(bytes, 0);
    appendByte(bytes, 8); // minimum code size

    QByteArray data;
    std::uint32_t bits = 0;
    int bitCount = 0;
    const auto put = [&](unsigned code) {
        bits |= code << bitCount;
        bitCount += 9;
        while (bitCount >= 8) {
            appendByte(data, bits);
            bits >>= 8;
            bitCount -= 8;
        }
    };
    constexpr unsigned kClear = 256;
    constexpr unsigned kEnd = 257;
    for (std::size_t i = 0; i < indices.size(); ++i) {
        if (i % 250 == 0)
            put(kClear);
        put(indices[i]);
    }
    put(kEnd);
    if (bitCount > 0)
        appendByte(data, bits);
    for (qsizetype at = 0; at < data.size(); at += 255) {
        const qsizetype length = std::min<qsizetype>(255, data.size() - at);
        appendByte(bytes, static_cast<unsigned>(length));
        bytes.append(data.mid(at, length));
    }
    appendByte(bytes, 0);
    bytes.append(';');
    return bytes;
}

std::uint32_t crc32(const QByteArray& bytes)
{
    std::uint32_t crc = 0xFFFFFFFFU;
    for (const char c : bytes) {
        crc ^= static_cast<unsigned char>(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1U) != 0 ? (crc >> 1) ^ 0xEDB88320U : crc >> 1;
    }
    return crc ^ 0xFFFFFFFFU;
}

void appendChunk(QByteArray& png, const char* type, const QByteArray& content)
{
    appendBig32(png, static_cast<std::uint32_t>(content.size()));
    const QByteArray typed = QByteArray(type) + content;
    png.append(typed);
    appendBig32(png, crc32(typed));
}

// A PNG that claims the given size but holds only a scrap of image data.
QByteArray pngClaiming(std::uint32_t width, std::uint32_t height)
{
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    QByteArray header;
    appendBig32(header, width);
    appendBig32(header, height);
    header.append("\x08\x06\x00\x00\x00", 5); // 8 bits, RGBA, deflate, no filter, no interlace
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", QByteArray("\x78\x9c\x63\x60\x00\x00\x00\x02\x00\x01", 10));
    appendChunk(png, "IEND", QByteArray());
    return png;
}

// A real JPEG whose frame header is rewritten to claim another size.
QByteArray jpegClaiming(int width, int height)
{
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes = encode(image, "jpeg");
    const qsizetype frame = bytes.indexOf("\xFF\xC0");
    EXPECT_GT(frame, 0);
    bytes[frame + 5] = static_cast<char>(height >> 8);
    bytes[frame + 6] = static_cast<char>(height & 0xFF);
    bytes[frame + 7] = static_cast<char>(width >> 8);
    bytes[frame + 8] = static_cast<char>(width & 0xFF);
    return bytes;
}

// Three vertical bands, red, green and blue (none of them bright, so none strikes out another), on a cover of the given
// size.
QImage bands(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(QRect(0, 0, width / 3, height), QColor(160, 0, 0));
    painter.fillRect(QRect(width / 3, 0, width - 2 * (width / 3), height), QColor(0, 160, 0));
    painter.fillRect(QRect(width - width / 3, 0, width / 3, height), QColor(0, 0, 160));
    return image;
}

std::span<const std::uint8_t> view(const QByteArray& bytes)
{
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())};
}

struct Pixel {
    int r, g, b, a;
};

Pixel pixelAt(const PixelCanvas& canvas, int x, int y)
{
    const std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(canvas.width) + x) * 4;
    return {canvas.rgba[at], canvas.rgba[at + 1], canvas.rgba[at + 2], canvas.rgba[at + 3]};
}

// Lossy formats move colours a little; this tolerance still tells red, green and blue apart.
void expectNear(const Pixel& pixel, int r, int g, int b, const std::string& where)
{
    EXPECT_NEAR(pixel.r, r, 24) << where;
    EXPECT_NEAR(pixel.g, g, 24) << where;
    EXPECT_NEAR(pixel.b, b, 24) << where;
    EXPECT_EQ(pixel.a, 255) << where;
}

class QtCoverDecoderTest : public ::testing::Test {
protected:
    RecordingLog log;
    QtCoverDecoder decoder{log};

    void expectBandsDrawnWhole(const QByteArray& bytes, const std::string& format)
    {
        SCOPED_TRACE(format);
        const std::unique_ptr<CoverImage> cover = decoder.decode(view(bytes));
        ASSERT_NE(cover, nullptr) << (log.lines.empty() ? "" : log.lines.back());
        const PixelCanvas canvas = cover->drawInto(80, 80);
        ASSERT_EQ(canvas.width, 80);
        ASSERT_EQ(canvas.height, 80);
        ASSERT_EQ(canvas.rgba.size(), 80u * 80u * 4u);
        for (int y : {0, 40, 79}) {
            expectNear(pixelAt(canvas, 4, y), 160, 0, 0, "left, row " + std::to_string(y));
            expectNear(pixelAt(canvas, 40, y), 0, 160, 0, "middle, row " + std::to_string(y));
            expectNear(pixelAt(canvas, 75, y), 0, 0, 160, "right, row " + std::to_string(y));
        }
        Eyedropper eyedropper{cover.get(), log};
        const std::vector<Colour> colours = eyedropper.getColours(3);
        ASSERT_EQ(colours.size(), 3u);
        // The bands are about equally large, so their order depends on the format's smear.
        std::vector<double> hues;
        for (const Colour& colour : colours)
            hues.push_back(colour.hueComponent());
        std::sort(hues.begin(), hues.end());
        EXPECT_EQ(hues[0], 0.0);
        EXPECT_NEAR(hues[1], 1.0 / 3, 0.05);
        EXPECT_NEAR(hues[2], 2.0 / 3, 0.05);
    }

    void expectRefused(const QByteArray& bytes, const std::string& lineStart)
    {
        log.lines.clear();
        EXPECT_EQ(decoder.decode(view(bytes)), nullptr);
        ASSERT_EQ(log.lines.size(), 1u);
        EXPECT_EQ(log.lines[0].rfind(lineStart, 0), 0u) << log.lines[0];
    }
};

TEST_F(QtCoverDecoderTest, DecodesEveryCommonCoverFormatAndDrawsItWhole)
{
    const QImage cover = bands(240, 240);
    expectBandsDrawnWhole(encode(cover, "jpeg"), "jpeg");
    expectBandsDrawnWhole(encode(cover, "png"), "png");
    expectBandsDrawnWhole(encode(cover, "bmp"), "bmp");
    expectBandsDrawnWhole(encode(cover, "webp", 90), "webp");

    std::vector<std::uint8_t> indices;
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 120; ++x)
            indices.push_back(static_cast<std::uint8_t>(x < 40 ? 0 : x < 80 ? 1 : 2));
    expectBandsDrawnWhole(encodeGif(120, 120, {qRgb(160, 0, 0), qRgb(0, 160, 0), qRgb(0, 0, 160)}, indices), "gif");
}

TEST_F(QtCoverDecoderTest, NonSquareCoverIsStretchedToFillTheSquare)
{
    // A wide cover and a tall one: the bands fill the canvas edge to edge, nothing is cut off and
    // no pixel stays transparent.
    expectBandsDrawnWhole(encode(bands(600, 150), "png"), "wide png");
    expectBandsDrawnWhole(encode(bands(90, 400), "jpeg"), "tall jpeg");
    const std::unique_ptr<CoverImage> cover = decoder.decode(view(encode(bands(600, 150), "png")));
    ASSERT_NE(cover, nullptr);
    const PixelCanvas canvas = cover->drawInto(80, 80);
    for (std::size_t i = 3; i < canvas.rgba.size(); i += 4)
        ASSERT_EQ(canvas.rgba[i], 255) << "pixel " << i / 4;
}

TEST_F(QtCoverDecoderTest, LargeCoverIsKeptNoLargerThanTheRedraw)
{
    const QByteArray bytes = encode(bands(2400, 1600), "jpeg", 80);
    const std::unique_ptr<CoverImage> cover = decoder.decode(view(bytes));
    ASSERT_NE(cover, nullptr);
    EXPECT_EQ(static_cast<const QtCoverImage&>(*cover).image().size(), QSize(80, 80));
    // A cover smaller than the redraw is kept as it is and scaled up when drawn.
    const std::unique_ptr<CoverImage> small = decoder.decode(view(encode(bands(30, 30), "png")));
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(static_cast<const QtCoverImage&>(*small).image().size(), QSize(30, 30));
    EXPECT_EQ(small->drawInto(80, 80).rgba.size(), 80u * 80u * 4u);
}

TEST_F(QtCoverDecoderTest, TransparentPartsStayTransparentAfterTheRedraw)
{
    QImage image(100, 100, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter(&image).fillRect(QRect(0, 0, 50, 100), QColor(0, 0, 255));
    const std::unique_ptr<CoverImage> cover = decoder.decode(view(encode(image, "png")));
    ASSERT_NE(cover, nullptr);
    const PixelCanvas canvas = cover->drawInto(80, 80);
    expectNear(pixelAt(canvas, 10, 10), 0, 0, 255, "opaque half");
    EXPECT_EQ(pixelAt(canvas, 70, 10).a, 0);
    Eyedropper eyedropper{cover.get(), log};
    EXPECT_EQ(eyedropper.getColours(2), std::vector<Colour>(2, Colour{0, 0, 1, 1}));
}

TEST_F(QtCoverDecoderTest, EmptyAndUnreadableBytesGiveNoCoverAndOneLine)
{
    expectRefused(QByteArray(), "cover decoder: no cover bytes to decode");
    expectRefused(QByteArray("this is not an image at all, just some words"),
                  "cover decoder: the cover is not an image in a format this system reads");
    QByteArray noise(4096, '\0');
    std::uint32_t state = 12345;
    for (char& c : noise) {
        state = state * 1103515245U + 12345U;
        c = static_cast<char>(state >> 24);
    }
    expectRefused(noise, "cover decoder: ");
}

TEST_F(QtCoverDecoderTest, CoversCutShortOrCorruptGiveNoCover)
{
    const QImage cover = bands(200, 200);
    for (const char* format : {"jpeg", "png", "webp", "bmp"}) {
        SCOPED_TRACE(format);
        const QByteArray whole = encode(cover, format, 90);
        expectRefused(whole.left(whole.size() / 2), "cover decoder: ");
        expectRefused(whole.left(whole.size() * 3 / 4), "cover decoder: ");
    }
    // Only the end-of-image marker missing: the JPEG reader would fill in grey and say nothing.
    const QByteArray jpeg = encode(cover, "jpeg");
    expectRefused(jpeg.left(jpeg.size() - 2), "cover decoder: the jpeg cover is cut short");
    const QByteArray bmp = encode(cover, "bmp");
    expectRefused(bmp.left(bmp.size() - 2), "cover decoder: the bmp cover is cut short");
    expectRefused(encode(cover, "jpeg").left(2), "cover decoder: ");

    // Damage inside the PNG's compressed data fails its checksum.
    QByteArray png = encode(cover, "png");
    const qsizetype data = png.indexOf("IDAT");
    ASSERT_GT(data, 0);
    for (qsizetype i = data + 10; i < data + 40; ++i)
        png[i] = static_cast<char>(png[i] ^ 0x5A);
    expectRefused(png, "cover decoder: could not decode the png cover");
}

TEST_F(QtCoverDecoderTest, CoverClaimingHugeDimensionsIsRefusedBeforeDecoding)
{
    expectRefused(pngClaiming(100000, 100000), "cover decoder: refusing a 100000 x 100000 png cover");
    expectRefused(encodeGif(2, 2, {qRgb(255, 0, 0)}, {0, 0, 0, 0}, 65535, 65535),
                  "cover decoder: refusing a 65535 x 65535 gif cover");
    // Just inside the budget the header alone is not refused: the cover fails on its missing data.
    expectRefused(pngClaiming(8000, 8000), "cover decoder: could not decode the png cover");
}

TEST_F(QtCoverDecoderTest, JpegIsMeasuredAtTheScaleItDecodesAt)
{
    // An eighth of 20000 x 20000 fits in 32 MiB; decoded whole it would not. A budget of 1 MiB
    // refuses it.
    QtCoverDecoder small{log, QSize(80, 80), 32 * 1024 * 1024};
    log.lines.clear();
    const std::unique_ptr<CoverImage> cover = small.decode(view(jpegClaiming(20000, 20000)));
    EXPECT_NE(cover, nullptr) << (log.lines.empty() ? "" : log.lines.back());
    QtCoverDecoder tiny{log, QSize(80, 80), 1024 * 1024};
    log.lines.clear();
    EXPECT_EQ(tiny.decode(view(jpegClaiming(20000, 20000))), nullptr);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], "cover decoder: refusing a 20000 x 20000 jpeg cover: decoding it needs 23 MiB, more than "
                            "the 1 MiB allowed");
}

TEST_F(QtCoverDecoderTest, DecodesFromAFileAndReportsAMissingOne)
{
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const QString path = directory.filePath(QStringLiteral("cover.jpg"));
    ASSERT_TRUE(bands(300, 300).save(path, "jpeg"));
    const std::unique_ptr<CoverImage> cover = decoder.decodeFile(path);
    ASSERT_NE(cover, nullptr);
    expectNear(pixelAt(cover->drawInto(80, 80), 40, 40), 0, 160, 0, "middle");

    log.lines.clear();
    EXPECT_EQ(decoder.decodeFile(directory.filePath(QStringLiteral("missing.png"))), nullptr);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].rfind("cover decoder: cannot read ", 0), 0u) << log.lines[0];
}

} // namespace
} // namespace glowcast
