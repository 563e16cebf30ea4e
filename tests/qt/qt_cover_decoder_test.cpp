#include "adapters/qt/qt_cover_decoder.h"
#include "support/recording_log.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QPainter>

#include <gtest/gtest.h>

#include <array>
#include <span>
#include <tuple>

namespace glowcast {
namespace {

QByteArray encode(const QImage& image, const char* format, int quality = 95, bool progressive = false)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    EXPECT_TRUE(writer.write(image)) << format << ": " << writer.errorString().toStdString();
    return bytes;
}

// A file of tests/data: GIFs (which Qt reads but does not write), PNGs whose headers claim far more
// than they hold, each chunk's CRC worked out apart from Qt, and a 16 x 16 JPEG whose frame header
// claims 65500 x 65500.
QByteArray corpus(const char* name)
{
    QFile file(QStringLiteral(GLOWCAST_TEST_DATA "/") + QLatin1String(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

// Three vertical bands, red, green and blue (none bright, so none strikes out another).
QImage bands(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    for (const auto& [left, right, colour] :
         {std::tuple{0, width / 3, QColor(160, 0, 0)}, std::tuple{width / 3, width - width / 3, QColor(0, 160, 0)},
          std::tuple{width - width / 3, width, QColor(0, 0, 160)}})
        painter.fillRect(QRect(left, 0, right - left, height), colour);
    return image;
}

std::span<const std::uint8_t> view(const QByteArray& bytes)
{
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())};
}

// Lossy formats move colours a little; this tolerance still tells red, green and blue apart.
void expectNear(const PixelCanvas& canvas, int x, int y, std::array<int, 4> rgba)
{
    const std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(canvas.width) + x) * 4;
    for (std::size_t c = 0; c < 4; ++c)
        EXPECT_NEAR(canvas.rgba[at + c], rgba[c], c == 3 ? 0 : 24) << "at " << x << "," << y << " component " << c;
}

class QtCoverDecoderTest : public ::testing::Test {
protected:
    RecordingLog log;
    QtCoverDecoder decoder{log};
};

// A cover larger than the redraw in either side is kept at the redraw's size, any other as it is.
TEST_F(QtCoverDecoderTest, DecodesEveryCommonFormatKeepsItNoLargerThanTheRedrawAndStretchesItToFill)
{
    const std::vector<std::tuple<std::string, QByteArray, QSize>> rows{
        {"bmp", encode(bands(240, 240), "bmp"), {80, 80}},
        {"webp", encode(bands(240, 240), "webp", 90), {80, 80}},
        {"gif", corpus("bands-30.gif"), {30, 30}},
        {"wide png", encode(bands(600, 150), "png"), {80, 80}},
        {"tall jpeg", encode(bands(90, 400), "jpeg"), {80, 80}},
        {"large jpeg", encode(bands(2400, 1600), "jpeg", 80), {80, 80}},
        {"small png", encode(bands(30, 30), "png"), {30, 30}},
        {"low png", encode(bands(80, 30), "png"), {80, 30}}};
    for (const auto& [label, bytes, kept] : rows) {
        SCOPED_TRACE(label);
        const std::unique_ptr<CoverImage> cover = decoder.decode(view(bytes));
        ASSERT_NE(cover, nullptr) << (log.lines.empty() ? "" : log.lines.back());
        EXPECT_EQ(static_cast<const QtCoverImage&>(*cover).image().size(), kept);
        const PixelCanvas canvas = cover->drawInto(80, 80);
        ASSERT_EQ(canvas.width, 80);
        ASSERT_EQ(canvas.rgba.size(), 80u * 80u * 4u);
        for (int y : {0, 40, 79}) { // edge to edge, nothing cut off
            expectNear(canvas, 4, y, {160, 0, 0, 255});
            expectNear(canvas, 40, y, {0, 160, 0, 255});
            expectNear(canvas, 75, y, {0, 0, 160, 255});
        }
        for (std::size_t i = 3; i < canvas.rgba.size(); i += 4)
            ASSERT_EQ(canvas.rgba[i], 255) << "pixel " << i / 4 << " is not opaque";
    }
}

TEST_F(QtCoverDecoderTest, TransparentPartsStayTransparentAfterTheRedraw)
{
    QImage image(100, 100, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter(&image).fillRect(QRect(0, 0, 50, 100), QColor(0, 0, 255));
    const std::unique_ptr<CoverImage> cover = decoder.decode(view(encode(image, "png")));
    ASSERT_NE(cover, nullptr);
    const PixelCanvas canvas = cover->drawInto(80, 80);
    expectNear(canvas, 10, 10, {0, 0, 255, 255});
    EXPECT_EQ(canvas.rgba[(10 * 80 + 70) * 4 + 3], 0);
}

TEST_F(QtCoverDecoderTest, EmptyUnreadableCutShortCorruptOrHugeBytesGiveNoCoverAndOneLine)
{
    EXPECT_EQ(decoder.decode({}), nullptr);
    EXPECT_EQ(log.lines, std::vector<std::string>{"cover decoder: no cover bytes to decode"});
    // Each refusal starts with these words (a reader's own message may follow them).
    std::vector<std::pair<QByteArray, std::string>> rows{
        {"this is not an image at all, just some words", "the cover is not an image in a format this system reads"},
        {corpus("claims-100000-square.png"), "refusing a 100000 x 100000 png cover"},
        {corpus("claims-65535-square.gif"), "refusing a 65535 x 65535 gif cover"},
        // Just inside the budget the header alone is not refused: the cover fails on its missing data.
        {corpus("claims-8000-square.png"), "could not decode the png cover"},
        // Each 8 x 8 block takes at least a bit: a JPEG shorter than that is a header claiming too much.
        {corpus("claims-65500-square.jpg"),
         "the jpeg cover is cut short: its header claims 65500 x 65500 pixels, more than its "}};
    const QImage cover = bands(200, 200);
    for (const char* format : {"jpeg", "png", "webp", "bmp"}) {
        const QByteArray whole = encode(cover, format, 90);
        rows.insert(rows.end(), {{whole.left(whole.size() / 2), ""}, {whole.left(whole.size() * 3 / 4), ""}});
    }
    // Only the end-of-image marker missing: the JPEG reader would fill in grey and say nothing.
    for (const char* format : {"jpeg", "bmp"}) {
        const QByteArray whole = encode(cover, format);
        rows.emplace_back(whole.left(whole.size() - 2), "the " + std::string(format) + " cover is cut short");
    }
    rows.emplace_back(encode(cover, "jpeg").left(2), "");
    // Damage inside the PNG's compressed data fails its checksum.
    QByteArray png = encode(cover, "png");
    const qsizetype data = png.indexOf("IDAT");
    ASSERT_GT(data, 0);
    for (qsizetype i = data + 10; i < data + 40; ++i)
        png[i] = static_cast<char>(png[i] ^ 0x5A);
    rows.emplace_back(png, "could not decode the png cover");
    for (std::size_t row = 0; row < rows.size(); ++row) {
        const DecodedCover decoded = decoder.decodeCover(view(rows[row].first));
        EXPECT_EQ(decoded.image, nullptr) << "row " << row;
        EXPECT_FALSE(decoded.refusal.empty()) << "row " << row;
        EXPECT_TRUE(decoded.refusal.starts_with(rows[row].second)) << "row " << row << ": " << decoded.refusal;
    }
}

// The budget bounds the decode's real peak: a JPEG decodes at 4/8 of 2000 x 2000 here, then grey
// is converted before it is scaled down, and a progressive one holds every coefficient.
TEST_F(QtCoverDecoderTest, WhatADecodeHoldsAtItsPeakIsCountedAgainstTheBudget)
{
    QtCoverDecoder fourMiB{log, QSize(900, 900), 4 * 1024 * 1024};
    QImage grey(2000, 2000, QImage::Format_Grayscale8);
    grey.fill(90);
    EXPECT_NE(fourMiB.decode(view(encode(bands(2000, 2000), "jpeg"))), nullptr);
    // A lossless WebP's header says whether it has alpha, which its scaling copies: 8 bytes a pixel
    // with it, 4 without.
    EXPECT_NE(fourMiB.decode(view(encode(bands(1000, 1000), "webp", 100))), nullptr);
    // Qt's own ceiling is whole MiB: under 2 MiB, a cover this check lets by meets Qt's 1 MiB.
    QtCoverDecoder tight{log, QSize(900, 900), 3 * 1024 * 1024 / 2};
    EXPECT_EQ(tight.decodeCover(view(encode(bands(600, 600), "png"))).refusal,
              "could not decode the png cover: it is over Qt's own ceiling of 1 MiB for an image");
    for (const auto& [bytes, line] : {std::pair{encode(grey, "jpeg"), "needs 5 MiB"},
                                      {encode(bands(2000, 2000), "jpeg", 95, true), "needs 15 MiB"}}) {
        EXPECT_EQ(fourMiB.decodeCover(view(bytes)).refusal, "refusing a 2000 x 2000 jpeg cover: decoding it " +
                                                                std::string(line) + ", more than the 4 MiB allowed");
    }
}

} // namespace
} // namespace glowcast
