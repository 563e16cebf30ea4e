#include "adapters/covers/cover_file_decoder.h"
#include "adapters/covers/exif_orientation.h"
#include "adapters/covers/jpeg_layout.h"
#include "adapters/files/regular_file.h"
#include "core/colour/perceptual.h"
#include "core/palette/eyedropper.h"
#include "core/palette/vivid_palette.h"
#include "support/recording_log.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QPainter>

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <random>
#include <span>
#include <string>
#include <tuple>
#include <vector>

namespace glowcast {
namespace {

CieLab labOf(double red, double green, double blue)
{
    return cieLabFromLinear({linearFromEncoded(red), linearFromEncoded(green), linearFromEncoded(blue)});
}

CieLab labOf(const std::string& hex)
{
    std::array<double, 3> rgb{};
    for (std::size_t c = 0; c < 3; ++c) {
        int value = 0;
        std::from_chars(hex.data() + 2 * c, hex.data() + 2 * c + 2, value, 16);
        rgb[c] = value / 255.0;
    }
    return labOf(rgb[0], rgb[1], rgb[2]);
}

void expectWithinOneDeltaE(const std::vector<Colour>& colours, const std::vector<std::string>& expected)
{
    ASSERT_EQ(colours.size(), expected.size());
    for (std::size_t i = 0; i < colours.size(); ++i)
        EXPECT_LE(ciede2000(labOf(colours[i].red, colours[i].green, colours[i].blue), labOf(expected[i])), 1.0)
            << "colour " << i << ", before #" << expected[i];
}

// A file holding the bytes, read from where it is, gives the cover or the refusal the bytes give.
void expectTheSameFromAFile(const CoverFileDecoder& decoder, std::span<const std::uint8_t> bytes)
{
    const FileDescriptor file(::memfd_create("cover", MFD_CLOEXEC));
    ASSERT_EQ(::write(file.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    const DecodedCover fromFile = decoder.decodeCoverFile(file.get(), static_cast<std::int64_t>(bytes.size()));
    const DecodedCover fromBytes = decoder.decodeCover(bytes);
    EXPECT_EQ(fromFile.refusal, fromBytes.refusal);
    EXPECT_EQ(fromFile.note, fromBytes.note);
    ASSERT_EQ(fromFile.image == nullptr, fromBytes.image == nullptr);
    if (fromFile.image) {
        EXPECT_EQ(fromFile.image->pixels(), fromBytes.image->pixels());
    }
}

struct Sample {
    const char* file; // from the top of the source tree
    std::vector<std::string> classic;
    std::vector<std::string> vivid;
};

// The five colours of each palette for the covers of the source tree, as Qt's image readers and
// smooth scaling decoded them before PNG and JPEG got decoders of their own.
const std::vector<Sample> kSamples{
    {"samples/covers/01-ember.png",
     {"ff0000", "bf9f00", "9f00bf", "009fbf", "60bf00"},
     {"ff1414", "b010d0", "d0b010", "70d010", "10b0d0"}},
    {"samples/covers/02-meadow.png",
     {"00ff60", "bf9f00", "2000bf", "bf0060", "9f00bf"},
     {"14ff62", "3010d0", "d0b010", "d01070", "10b0d0"}},
    {"samples/covers/03-deep-sea.png",
     {"2000ff", "009fbf", "bf9f00", "bf0000", "00bf40"},
     {"3b14ff", "d01010", "10b0d0", "d0b010", "10d050"}},
    {"samples/covers/04-sunflower.png",
     {"ffbf00", "2000bf", "bf0060", "00bf40", "9f00bf"},
     {"ffd814", "3010d0", "d01070", "10d050", "10b0d0"}},
    {"samples/covers/05-neon.png",
     {"bf00ff", "60bf00", "009fbf", "bf9f00", "bf0000"},
     {"d814ff", "70d010", "d01010", "d0b010", "10b0d0"}},
    {"samples/covers/06-lagoon.png",
     {"00bfff", "bf0060", "2000bf", "bf9f00", "00bf40"},
     {"14d8ff", "3010d0", "d01070", "10d050", "d0b010"}},
    {"fuzz/corpus/cover_decoder_fuzz/seed-progressive.jpg",
     {"bf2000", "008020", "604020", "408020", "bf2000"},
     {"ca271d", "1e9e3b", "2a5232", "afddb8", "7a5822"}},
    {"fuzz/corpus/cover_decoder_fuzz/seed.bmp",
     {"bf2000", "008020", "604020", "406020", "bf2000"},
     {"c8281e", "209f3c", "24542c", "a4d2ae", "895432"}},
    {"fuzz/corpus/cover_decoder_fuzz/seed.gif",
     {"dfdfdf", "0020bf", "802040", "602060", "809fbf"},
     {"1f3cc8", "c82a20", "d4dcff", "7787d9", "e19b98"}},
    {"fuzz/corpus/cover_decoder_fuzz/seed.jpg",
     {"bf2000", "208020", "606020", "408020", "bf2000"},
     {"c7291d", "209d3b", "2b5232", "b2deb8", "647031"}},
    {"fuzz/corpus/cover_decoder_fuzz/seed.png",
     {"bf2000", "008020", "406020", "bf2000", "008020"},
     {"c8281e", "1f9f3c", "00ea51", "b8e7c2", "5a7530"}},
    {"fuzz/corpus/cover_decoder_fuzz/seed.webp",
     {"bf2020", "008020", "606020", "408020", "dfffff"},
     {"c82923", "1d9f3a", "b4e5c1", "984500", "656f30"}},
    {"tests/data/bands-30.gif",
     {"9f0000", "00009f", "009f00", "404000", "9f0000"},
     {"0100d9", "00a000", "a00000", "5a4500", "0c4f63"}},
};

void PrintTo(const Sample& sample, std::ostream* out)
{
    *out << sample.file;
}

class CoverFileDecoderDifferenceTest : public ::testing::TestWithParam<Sample> {};

TEST_P(CoverFileDecoderDifferenceTest, GivesTheLampsTheColoursTheyHadWithinOneDeltaE)
{
    RecordingLog log;
    const FileRead file = readRegularFile(std::string(GLOWCAST_TEST_DATA "/../../") + GetParam().file,
                                          CoverFileDecoder::kMemoryBudgetBytes);
    ASSERT_TRUE(file.ok()) << file.reason;
    const std::unique_ptr<CoverImage> cover = CoverFileDecoder(log).decode(file.bytes);
    ASSERT_NE(cover, nullptr) << (log.lines.empty() ? "" : log.lines.back());
    expectTheSameFromAFile(CoverFileDecoder(log), file.bytes);
    {
        SCOPED_TRACE("classic");
        expectWithinOneDeltaE(Eyedropper(cover.get(), log).getColours(5), GetParam().classic);
    }
    {
        SCOPED_TRACE("vivid");
        expectWithinOneDeltaE(vividColours(cover->drawInto(Eyedropper::kCanvasSide, Eyedropper::kCanvasSide), 5),
                              GetParam().vivid);
    }
}

INSTANTIATE_TEST_SUITE_P(Corpora, CoverFileDecoderDifferenceTest, ::testing::ValuesIn(kSamples),
                         [](const ::testing::TestParamInfo<Sample>& row) {
                             const std::string file = row.param.file;
                             std::string name = file.substr(file.rfind('/') + 1);
                             for (char& c : name)
                                 if (std::isalnum(static_cast<unsigned char>(c)) == 0)
                                     c = '_';
                             return name;
                         });

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

// A JPEG whose end-of-image marker lies only far from its end, across the first and the second 64 KiB
// after its scan header; and one with 120 KB of marker segments before its frame.
QByteArray withEndMarkerFarFromTheEnd(const QByteArray& jpeg)
{
    const auto scan = static_cast<qsizetype>(readJpegHeader(view(jpeg)).scanData);
    QByteArray moved = jpeg.chopped(2) + QByteArray(scan + 200'000 - jpeg.size(), 0);
    return moved.replace(scan + 64 * 1024 - 1, 2, "\xFF\xD9");
}

QByteArray withLongHeader(const QByteArray& jpeg)
{
    const QByteArray segment = QByteArray("\xFF\xE2\xEA\x60", 4) + QByteArray(60'000 - 2, 'x');
    return jpeg.left(2) + segment + segment + jpeg.mid(2);
}

class CoverFileDecoderTest : public ::testing::Test {
protected:
    RecordingLog log;
    CoverFileDecoder decoder{log};
};

// A cover larger than the redraw in either side is kept at the redraw's size, any other as it is.
TEST_F(CoverFileDecoderTest, DecodesEveryCommonFormatKeepsItNoLargerThanTheRedrawAndStretchesItToFill)
{
    QImage grey = bands(300, 300).convertToFormat(QImage::Format_Grayscale8);
    const std::vector<std::tuple<std::string, QByteArray, std::pair<int, int>>> rows{
        {"bmp", encode(bands(240, 240), "bmp"), {80, 80}},
        {"webp", encode(bands(240, 240), "webp", 90), {80, 80}},
        {"gif", corpus("bands-30.gif"), {30, 30}},
        {"wide png", encode(bands(600, 150), "png"), {80, 80}},
        {"interlaced palette png", corpus("bands-120-interlaced-palette.png"), {80, 80}},
        {"tall jpeg", encode(bands(90, 400), "jpeg"), {80, 80}},
        {"large jpeg", encode(bands(2400, 1600), "jpeg", 80), {80, 80}},
        {"padded jpeg", withEndMarkerFarFromTheEnd(encode(bands(400, 400), "jpeg")), {80, 80}},
        {"jpeg with a long header", withLongHeader(encode(bands(400, 400), "jpeg")), {80, 80}},
        {"progressive jpeg", encode(bands(640, 640), "jpeg", 80, true), {80, 80}},
        {"small png", encode(bands(30, 30), "png"), {30, 30}},
        {"low png", encode(bands(80, 30), "png"), {80, 30}}};
    for (const auto& [label, bytes, kept] : rows) {
        SCOPED_TRACE(label);
        const std::unique_ptr<CoverImage> cover = decoder.decode(view(bytes));
        ASSERT_NE(cover, nullptr) << (log.lines.empty() ? "" : log.lines.back());
        expectTheSameFromAFile(decoder, view(bytes));
        const CoverPixels& pixels = static_cast<const DecodedCoverImage&>(*cover).pixels();
        EXPECT_EQ(std::pair(pixels.width, pixels.height), kept);
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

TEST_F(CoverFileDecoderTest, TransparentPartsStayTransparentAfterTheRedraw)
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

// The redraw gives the very pixels a painter gives drawing the picture smoothly onto a transparent
// canvas then turned straight: reduced more than twice (rows in blocks of eight), less than twice,
// enlarged, stretched apart across and down, each opaque and with alpha.
TEST(StraightCanvasTest, GivesThePixelsAPainterGivesDrawingThePictureSmoothly)
{
    if (!__builtin_cpu_supports("avx2"))
        GTEST_SKIP() << "the painter reduces in blocks of four, not eight, without AVX2";
    std::mt19937 random(7);
    for (const auto& [width, height, side] :
         {std::tuple{240, 240, 80}, {239, 200, 80}, {100, 90, 80}, {40, 64, 80}, {200, 30, 240}}) {
        for (const unsigned opaque : {255U, 0U}) {
            SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height) + (opaque ? " opaque" : " with alpha"));
            QImage picture(width, height, QImage::Format_ARGB32_Premultiplied);
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    const unsigned a = opaque | (random() & 255);
                    const auto part = [&random, a] { return static_cast<int>(random() % (a + 1)); };
                    picture.setPixel(x, y, qRgba(part(), part(), part(), static_cast<int>(a)));
                }
            }
            const QImage rgba = picture.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
            const CoverPixels pixels{width, height, {rgba.constBits(), rgba.constBits() + rgba.sizeInBytes()}};
            QImage canvas(side, side, QImage::Format_ARGB32_Premultiplied);
            canvas.fill(Qt::transparent);
            QPainter painter(&canvas);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(QRect(0, 0, side, side), picture);
            painter.end();
            const QImage straight = canvas.convertToFormat(QImage::Format_RGBA8888);
            const std::vector<std::uint8_t> drawn = straightCanvas(pixels, side, side).rgba;
            const std::vector<std::uint8_t> painted(straight.constBits(),
                                                    straight.constBits() + straight.sizeInBytes());
            const auto at = std::mismatch(drawn.begin(), drawn.end(), painted.begin(), painted.end()).first;
            EXPECT_EQ(at, drawn.end()) << "first at " << (at - drawn.begin()) / 4 % side << ","
                                       << (at - drawn.begin()) / 4 / side;
        }
    }
}

// Premultiplying rounds each value times its alpha over 255 to the nearest, for every value and alpha.
TEST(PremultiplyTest, RoundsEachValueTimesItsAlphaToTheNearest)
{
    std::vector<std::uint8_t> rgba;
    for (unsigned alpha = 0; alpha < 256; ++alpha)
        for (unsigned value = 0; value < 256; ++value)
            rgba.insert(rgba.end(), {static_cast<std::uint8_t>(value), 0, 255, static_cast<std::uint8_t>(alpha)});
    premultiply(rgba);
    for (unsigned at = 0; at < rgba.size(); at += 4) {
        const unsigned value = at / 4 % 256;
        const unsigned alpha = at / 4 / 256;
        ASSERT_EQ(rgba[at], (value * alpha * 2 + 255) / 510) << value << " at alpha " << alpha;
        ASSERT_EQ(rgba[at + 2], alpha) << "at alpha " << alpha;
    }
}

// The Exif orientation tag (big-endian, the only entry of the first directory) in an APP1 segment
// right after the start of image.
QByteArray withOrientation(const QByteArray& jpeg, int orientation)
{
    const char tag[] = {'\xFF', '\xE1', 0, 34, 'E', 'x', 'i', 'f', 0, 0,
                        'M',    'M',    0, 42, 0,   0,   0,   8,   0, 1,
                        1,      0x12,   0, 3,  0,   0,   0,   1,   0, static_cast<char>(orientation),
                        0,      0,      0, 0,  0,   0};
    return jpeg.left(2) + QByteArray(tag, sizeof tag) + jpeg.mid(2);
}

// Quadrants red, green, blue and yellow from the top left: each orientation puts them elsewhere.
TEST_F(CoverFileDecoderTest, TurnsAJpegUprightAsItsExifOrientationSays)
{
    QImage quadrants(160, 120, QImage::Format_RGB32);
    QPainter painter(&quadrants);
    const std::array<QColor, 4> colours{QColor(200, 0, 0), QColor(0, 200, 0), QColor(0, 0, 200), QColor(200, 200, 0)};
    for (int q = 0; q < 4; ++q)
        painter.fillRect(QRect(q % 2 * 80, q / 2 * 60, 80, 60), colours[static_cast<std::size_t>(q)]);
    painter.end();
    const QByteArray jpeg = encode(quadrants, "jpeg");
    // Which quadrant lands top left, top right, bottom left and bottom right.
    const std::array<std::array<int, 4>, 9> corners{{{0, 1, 2, 3},
                                                     {0, 1, 2, 3},
                                                     {1, 0, 3, 2},
                                                     {3, 2, 1, 0},
                                                     {2, 3, 0, 1},
                                                     {0, 2, 1, 3},
                                                     {2, 0, 3, 1},
                                                     {3, 1, 2, 0},
                                                     {1, 3, 0, 2}}};
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const std::unique_ptr<CoverImage> cover = decoder.decode(view(withOrientation(jpeg, orientation)));
        ASSERT_NE(cover, nullptr);
        expectTheSameFromAFile(decoder, view(withOrientation(jpeg, orientation)));
        const PixelCanvas canvas = cover->drawInto(80, 80);
        const std::array<std::pair<int, int>, 4> at{{{5, 5}, {74, 5}, {5, 74}, {74, 74}}};
        for (std::size_t corner = 0; corner < 4; ++corner) {
            const QColor expected =
                colours[static_cast<std::size_t>(corners[static_cast<std::size_t>(orientation)][corner])];
            expectNear(canvas, at[corner].first, at[corner].second,
                       {expected.red(), expected.green(), expected.blue(), 255});
        }
    }
    EXPECT_TRUE(log.lines.empty());
}

TEST(ExifOrientationTest, ReadsTheTagInEitherByteOrderAndIgnoresWhatIsBroken)
{
    const auto segment = [](std::string tiff) { return std::string("Exif\0\0", 6) + tiff; };
    const std::string bigEndianSix("MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0", 22);
    const std::string littleEndianEight("II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x08\0\0\0", 22);
    const std::vector<std::tuple<std::string, int, std::string>> rows{
        {segment(bigEndianSix), 6, ""},
        {segment(littleEndianEight), 8, ""},
        {"JFIF", 1, ""},
        {segment("MM\0*"), 1, "ignoring the cover's orientation: its Exif header is cut short"},
        {segment(std::string("XX\0*\0\0\0\x08", 8)), 1,
         "ignoring the cover's orientation: its Exif byte order is neither II nor MM"},
        {segment(bigEndianSix.substr(0, 16)), 1,
         "ignoring the cover's orientation: its Exif directory runs past the end of the segment"},
        {segment(std::string("MM\0*\xFF\xFF\xFF\xF0", 8)), 1,
         "ignoring the cover's orientation: its first Exif directory lies past the end of the segment"},
        {segment(std::string(bigEndianSix).replace(19, 1, "\x09")), 1,
         "ignoring the cover's orientation: orientation 9 is not one of 1 to 8"}};
    for (const auto& [bytes, value, problem] : rows) {
        SCOPED_TRACE(bytes);
        const ExifOrientation read =
            exifOrientation(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
        EXPECT_EQ(read.value, value);
        EXPECT_EQ(read.problem, problem);
    }
}

TEST_F(CoverFileDecoderTest, EmptyUnreadableCutShortCorruptOrHugeBytesGiveNoCoverAndOneLine)
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
    // Only the end-of-image marker missing: a JPEG decoder would fill in grey and say nothing.
    for (const char* format : {"jpeg", "bmp"}) {
        const QByteArray whole = encode(cover, format);
        rows.emplace_back(whole.left(whole.size() - 2), "the " + std::string(format) + " cover is cut short");
    }
    rows.emplace_back(encode(cover, "jpeg").chopped(2) + QByteArray(100'000, 0), "the jpeg cover is cut short");
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
        expectTheSameFromAFile(decoder, view(rows[row].first));
    }
}

// The budget bounds the decode's real peak: a JPEG's rows are counted at the eighth it decodes at
// (here 5/8 of 2000 x 2000 for 1100), and a progressive one holds every coefficient.
TEST_F(CoverFileDecoderTest, WhatADecodeHoldsAtItsPeakIsCountedAgainstTheBudget)
{
    CoverFileDecoder fourMiB{log, 900, 4 * 1024 * 1024};
    EXPECT_NE(fourMiB.decode(view(encode(bands(2000, 2000), "jpeg"))), nullptr);
    // A lossless WebP's header says whether it has alpha, which its scaling copies: 8 bytes a pixel
    // with it, 4 without.
    EXPECT_NE(fourMiB.decode(view(encode(bands(1000, 1000), "webp", 100))), nullptr);
    // Qt's own ceiling is whole MiB: under 2 MiB, a cover this check lets by meets Qt's 1 MiB.
    CoverFileDecoder tight{log, 900, 3 * 1024 * 1024 / 2};
    EXPECT_EQ(tight.decodeCover(view(encode(bands(600, 600), "bmp"))).refusal,
              "could not decode the bmp cover: it is over Qt's own ceiling of 1 MiB for an image");
    CoverFileDecoder larger{log, 1100, 4 * 1024 * 1024};
    for (const auto& [reader, bytes, line] :
         {std::tuple{&larger, encode(bands(2000, 2000), "jpeg"), "needs 5 MiB"},
          std::tuple{&fourMiB, encode(bands(2000, 2000), "jpeg", 95, true), "needs 15 MiB"}}) {
        EXPECT_EQ(reader->decodeCover(view(bytes)).refusal, "refusing a 2000 x 2000 jpeg cover: decoding it " +
                                                                std::string(line) + ", more than the 4 MiB allowed");
    }
}

} // namespace
} // namespace glowcast
