// The palettes side by side on real photographs and drawn covers: classic and vivid as the program
// runs them (the same decoding, the same lamp-state bodies), against the sRGB picks of the npm
// references, which bench/palette_refs.mjs writes. Plain program; bench/palette-vs-npm.sh runs it.
//
//   palette_bench prepare DIR PHOTO...   crops each photograph square to a 1000 x 1000 JPEG in DIR, draws
//                                        the drawn covers there, and beside each cover its 128 px box
//                                        reduction (NAME.rgba128: width and height as 32-bit words, then RGBA)
//   palette_bench measure DIR REFS       the Markdown tables of the figures
//   palette_bench swatches OUT.png COVER...  each cover beside its five lamp colours, classic above vivid

#include "adapters/covers/cover_file_decoder.h"
#include "adapters/files/regular_file.h"
#include "core/colour/chromaticity.h"
#include "core/colour/perceptual.h"
#include "core/colour/srgb.h"
#include "core/covers/art_url.h"
#include "core/palette/eyedropper.h"
#include "core/palette/lamp_colour.h"
#include "core/palette/vivid_palette.h"
#include "support/recording_log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLinearGradient>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace glowcast;

constexpr int kSide = 1000;
constexpr int kCoverageSide = 128;

QImage squareCrop(const QImage& image)
{
    const int side = std::min(image.width(), image.height());
    return image.copy((image.width() - side) / 2, (image.height() - side) / 2, side, side)
        .scaled(kSide, kSide, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_RGB32);
}

QImage drawn(const QString& name)
{
    QImage image(kSide, kSide, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    if (name == QStringLiteral("black-accent")) {
        image.fill(QColor(8, 8, 10));
        painter.fillRect(620, 640, 140, 90, QColor(230, 40, 60));
    } else if (name == QStringLiteral("white-accent")) {
        image.fill(QColor(248, 248, 246));
        painter.setBrush(QColor(20, 110, 220));
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(QPointF(300, 700), 90, 90);
    } else if (name == QStringLiteral("pastel")) {
        const QColor colours[] = {{250, 200, 210}, {200, 230, 250}, {220, 245, 200}, {250, 235, 190}};
        for (int i = 0; i < 4; ++i)
            painter.fillRect((i % 2) * 500, (i / 2) * 500, 500, 500, colours[i]);
    } else if (name == QStringLiteral("greyscale")) {
        QLinearGradient grey(0, 0, kSide, kSide);
        grey.setColorAt(0, QColor(20, 20, 20));
        grey.setColorAt(1, QColor(235, 235, 235));
        painter.fillRect(image.rect(), grey);
    } else if (name == QStringLiteral("two-tone")) {
        painter.fillRect(0, 0, kSide, 600, QColor(240, 140, 20));
        painter.fillRect(0, 600, kSide, 400, QColor(20, 60, 120));
    } else {
        QLinearGradient sunset(0, 0, 0, kSide);
        sunset.setColorAt(0, QColor(40, 20, 110));
        sunset.setColorAt(0.5, QColor(220, 60, 90));
        sunset.setColorAt(1, QColor(250, 200, 60));
        painter.fillRect(image.rect(), sunset);
    }
    return image;
}

// Each output pixel the mean of the encoded values of the source pixels it covers.
QImage boxReduced(const QImage& source)
{
    const QImage image = source.convertToFormat(QImage::Format_RGBA8888);
    const int side = std::min(kCoverageSide, std::max(image.width(), image.height()));
    const int width = std::max(1, image.width() * side / std::max(image.width(), image.height()));
    const int height = std::max(1, image.height() * side / std::max(image.width(), image.height()));
    QImage reduced(width, height, QImage::Format_RGBA8888);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int x0 = x * image.width() / width;
            const int x1 = std::max(x0 + 1, (x + 1) * image.width() / width);
            const int y0 = y * image.height() / height;
            const int y1 = std::max(y0 + 1, (y + 1) * image.height() / height);
            double sum[4] = {0, 0, 0, 0};
            for (int sy = y0; sy < y1; ++sy)
                for (int sx = x0; sx < x1; ++sx)
                    for (int k = 0; k < 4; ++k)
                        sum[k] += image.constScanLine(sy)[sx * 4 + k];
            const double count = static_cast<double>((x1 - x0) * (y1 - y0));
            for (int k = 0; k < 4; ++k)
                reduced.scanLine(y)[x * 4 + k] = static_cast<uchar>(std::lround(sum[k] / count));
        }
    }
    return reduced;
}

bool writeCover(const QDir& directory, const QString& name, const QImage& image)
{
    if (!image.save(directory.filePath(name + QStringLiteral(".jpg")), "JPEG", 90))
        return false;
    const QImage reduced = boxReduced(QImage(directory.filePath(name + QStringLiteral(".jpg"))));
    QFile file(directory.filePath(name + QStringLiteral(".rgba128")));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const std::uint32_t size[2] = {static_cast<std::uint32_t>(reduced.width()),
                                   static_cast<std::uint32_t>(reduced.height())};
    file.write(reinterpret_cast<const char*>(size), sizeof size);
    for (int y = 0; y < reduced.height(); ++y)
        file.write(reinterpret_cast<const char*>(reduced.constScanLine(y)), reduced.width() * 4);
    return true;
}

int prepare(const QString& target, const QStringList& photos)
{
    QDir directory(target);
    if (!directory.mkpath(QStringLiteral(".")))
        return 1;
    for (const QString& photo : photos) {
        QImageReader reader(photo);
        reader.setAutoTransform(true);
        const QImage image = reader.read();
        if (image.isNull()) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(photo));
            return 1;
        }
        if (!writeCover(directory, QStringLiteral("photo-") + QFileInfo(photo).completeBaseName(), squareCrop(image)))
            return 1;
    }
    for (const char* name : {"black-accent", "white-accent", "pastel", "greyscale", "two-tone", "gradient"})
        if (!writeCover(directory, QStringLiteral("drawn-") + QLatin1String(name), drawn(QLatin1String(name))))
            return 1;
    return 0;
}

struct Rgb {
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
};

LinearRgb linearOf(const Rgb& c)
{
    return {linearFromEncoded(c.red), linearFromEncoded(c.green), linearFromEncoded(c.blue)};
}

// What a lamp shows for what a palette asks of it, drawn as sRGB: the chromaticity at full value (as a
// strip is sent it), each encoded channel scaled by bri / 254.
Rgb lampColourOf(const LampTarget& target)
{
    const EncodedRgb full = srgbAtFullValue(target.chromaticity.value_or(Chromaticity{0.3127, 0.329}));
    const double scale = std::clamp(target.brightness / 254.0, 0.0, 1.0);
    return {full.red * scale, full.green * scale, full.blue * scale};
}

double deltaUvFromBlackBody(const Rgb& colour)
{
    const LinearRgb c = linearOf(colour);
    const double bigX = 0.4124564 * c.red + 0.3575761 * c.green + 0.1804375 * c.blue;
    const double bigY = 0.2126729 * c.red + 0.7151522 * c.green + 0.0721750 * c.blue;
    const double bigZ = 0.0193339 * c.red + 0.1191920 * c.green + 0.9503041 * c.blue;
    const double sum = bigX + bigY + bigZ;
    if (sum <= 0.0)
        return 0.0;
    const auto uv = [](double x, double y) {
        const double d = -2.0 * x + 12.0 * y + 3.0;
        return std::pair{4.0 * x / d, 6.0 * y / d};
    };
    const auto [u, v] = uv(bigX / sum, bigY / sum);
    double nearest = 1.0;
    for (double t = 2000.0; t <= 6500.0; t += 10.0) {
        const double t2 = t * t;
        const double t3 = t2 * t;
        const double x = t <= 4000.0 ? -0.2661239e9 / t3 - 0.2343589e6 / t2 + 0.8776956e3 / t + 0.179910
                                     : -3.0258469e9 / t3 + 2.1070379e6 / t2 + 0.2226347e3 / t + 0.240390;
        const double y = t <= 2222.0   ? -1.1063814 * x * x * x - 1.34811020 * x * x + 2.18555832 * x - 0.20219683
                         : t <= 4000.0 ? -0.9549476 * x * x * x - 1.37418593 * x * x + 2.09137015 * x - 0.16748867
                                       : 3.0817580 * x * x * x - 5.87338670 * x * x + 3.75112997 * x - 0.37001483;
        const auto [bu, bv] = uv(x, y);
        nearest = std::min(nearest, std::hypot(u - bu, v - bv));
    }
    return nearest;
}

struct Figures {
    double coverage = 0.0;
    double distinct = 0.0; // 0 with one colour or two the same
    double chroma = 0.0;
    int grey = 0;
    int dark = 0;
    bool twin = false;
};

Figures measure(const std::vector<CieLab>& pixels, const std::vector<Rgb>& colours)
{
    Figures figures;
    std::vector<CieLab> labs;
    for (const Rgb& colour : colours) {
        const LinearRgb light = linearOf(colour);
        labs.push_back(cieLabFromLinear(light));
        const double chroma = oklabFromLinear(light).chroma();
        figures.chroma += chroma / static_cast<double>(colours.size());
        figures.grey += (chroma < 0.04 || deltaUvFromBlackBody(colour) < 0.006) ? 1 : 0;
        figures.dark += labs.back().lightness < 15.0 ? 1 : 0;
    }
    for (const CieLab& pixel : pixels) {
        double nearest = 1e9;
        for (const CieLab& lab : labs)
            nearest = std::min(nearest, ciede2000(pixel, lab));
        figures.coverage += nearest / static_cast<double>(pixels.size());
    }
    figures.distinct = labs.size() > 1 ? 1e9 : 0.0;
    for (std::size_t p = 0; p < labs.size(); ++p)
        for (std::size_t q = p + 1; q < labs.size(); ++q)
            figures.distinct = std::min(figures.distinct, ciede2000(labs[p], labs[q]));
    figures.twin = labs.size() > 1 && figures.distinct < 0.5;
    return figures;
}

std::vector<CieLab> coveragePixels(const QString& path)
{
    QFile file(path);
    std::vector<CieLab> pixels;
    if (!file.open(QIODevice::ReadOnly))
        return pixels;
    const QByteArray bytes = file.readAll();
    std::uint32_t size[2] = {0, 0};
    std::memcpy(size, bytes.constData(), sizeof size);
    const auto* rgba = reinterpret_cast<const std::uint8_t*>(bytes.constData()) + sizeof size;
    const auto& linear = linearFromByteTable();
    for (std::size_t i = 0; i < std::size_t{size[0]} * size[1]; ++i)
        pixels.push_back(cieLabFromLinear({linear[rgba[i * 4]], linear[rgba[i * 4 + 1]], linear[rgba[i * 4 + 2]]}));
    return pixels;
}

struct Totals {
    Figures sum;
    int covers = 0;
    int twins = 0;
    void add(const Figures& f)
    {
        sum.coverage += f.coverage;
        sum.distinct += f.distinct;
        sum.chroma += f.chroma;
        sum.grey += f.grey;
        sum.dark += f.dark;
        twins += f.twin ? 1 : 0;
        ++covers;
    }
};

const char* const kMethods[] = {"classic", "vivid", "colorthief", "material"};

int measureAll(const QString& target, const QString& refsPath)
{
    // The references' picks: cover -> method -> n -> colours.
    std::map<std::string, std::map<std::string, std::map<int, std::vector<Rgb>>>> picks;
    QFile refs(refsPath);
    if (!refs.open(QIODevice::ReadOnly))
        return 1;
    while (!refs.atEnd()) {
        const QJsonObject line = QJsonDocument::fromJson(refs.readLine()).object();
        std::vector<Rgb> colours;
        for (const QJsonValue colour : line.value(QStringLiteral("colours")).toArray()) {
            const QJsonArray c = colour.toArray();
            colours.push_back({c[0].toDouble() / 255.0, c[1].toDouble() / 255.0, c[2].toDouble() / 255.0});
        }
        picks[line.value(QStringLiteral("cover")).toString().toStdString()]
             [line.value(QStringLiteral("library")).toString().toStdString()][line.value(QStringLiteral("n")).toInt()] =
                 colours;
    }

    NullLog log;
    CoverFileDecoder decoder(log);
    const QDir directory(target);
    std::map<int, std::map<std::string, Totals>> photoTotals;
    std::printf("| cover | N | method | coverage | distinct | chroma | grey | dark | lamp colours "
                "|\n|---|---|---|---|---|---|---|---|---|\n");
    for (const QString& file : directory.entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name)) {
        const QString name = QFileInfo(file).completeBaseName();
        const std::vector<CieLab> pixels = coveragePixels(directory.filePath(name + QStringLiteral(".rgba128")));
        QFile cover(directory.filePath(file));
        if (!cover.open(QIODevice::ReadOnly))
            return 1;
        const QByteArray bytes = cover.readAll();
        const auto image = decoder.decode(
            {reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())});
        for (const int n : {3, 5}) {
            auto& methods = picks[name.toStdString()];
            Eyedropper eyedropper(image.get(), log);
            for (const Colour& colour : eyedropper.getColours(n))
                methods["classic"][n].push_back(lampColourOf(lampTargetOf(colour, log)));
            const PixelCanvas canvas = image->drawInto(Eyedropper::kCanvasSide, Eyedropper::kCanvasSide);
            for (const Colour& colour : vividColours(canvas, n))
                methods["vivid"][n].push_back(lampColourOf(vividLampTarget(colour)));
            for (const char* method : kMethods) {
                const std::vector<Rgb>& colours = methods[method][n];
                const Figures f = measure(pixels, colours);
                if (name.startsWith(QStringLiteral("photo-")))
                    photoTotals[n][method].add(f);
                std::string hexes;
                for (const Rgb& c : colours) {
                    char hex[16];
                    std::snprintf(hex, sizeof hex, "#%02x%02x%02x ", static_cast<int>(std::lround(c.red * 255)),
                                  static_cast<int>(std::lround(c.green * 255)),
                                  static_cast<int>(std::lround(c.blue * 255)));
                    hexes += hex;
                }
                std::printf("| %s | %d | %s | %.1f | %.1f | %.3f | %d | %d | %s|\n", qPrintable(name), n, method,
                            f.coverage, f.distinct, f.chroma, f.grey, f.dark, hexes.c_str());
            }
        }
    }
    std::printf("\n| N | method | photographs | coverage | distinct | chroma | grey per photograph | dark per "
                "photograph | photographs with two lamps alike |\n|---|---|---|---|---|---|---|---|---|\n");
    for (const auto& [n, methods] : photoTotals) {
        for (const char* method : kMethods) {
            const Totals& t = methods.at(method);
            const double count = t.covers;
            std::printf("| %d | %s | %d | %.2f | %.2f | %.4f | %.2f | %.2f | %d |\n", n, method, t.covers,
                        t.sum.coverage / count, t.sum.distinct / count, t.sum.chroma / count, t.sum.grey / count,
                        t.sum.dark / count, t.twins);
        }
    }
    return 0;
}

int swatches(const QString& target, const QStringList& covers)
{
    constexpr int kCover = 160;
    constexpr int kSwatch = 64;
    constexpr int kGap = 12;
    QImage picture(kCover + kGap + 5 * kSwatch + 2 * kGap + 60, covers.size() * (kCover + kGap) + kGap,
                   QImage::Format_RGB32);
    picture.fill(QColor(250, 250, 250));
    QPainter painter(&picture);
    NullLog log;
    CoverFileDecoder decoder(log);
    for (int c = 0; c < covers.size(); ++c) {
        const int top = kGap + c * (kCover + kGap);
        painter.drawImage(QRect(kGap, top, kCover, kCover), QImage(covers[c]));
        const FileRead file = readRegularFile(QFile::encodeName(covers[c]).toStdString(), kMaximumCoverBytes);
        const DecodedCover decoded = decoder.decodeCover(file.bytes);
        if (!decoded.image)
            return 1;
        const DecodedCoverImage* image = decoded.image.get();
        Eyedropper eyedropper(image, log);
        const PixelCanvas canvas = image->drawInto(Eyedropper::kCanvasSide, Eyedropper::kCanvasSide);
        std::vector<Rgb> rows[2];
        for (const Colour& colour : eyedropper.getColours(5))
            rows[0].push_back(lampColourOf(lampTargetOf(colour, log)));
        for (const Colour& colour : vividColours(canvas, 5))
            rows[1].push_back(lampColourOf(vividLampTarget(colour)));
        for (int r = 0; r < 2; ++r) {
            const int y = top + 8 + r * (kSwatch + 16);
            painter.setPen(QColor(60, 60, 60));
            painter.drawText(QRect(2 * kGap + kCover, y, 56, kSwatch), Qt::AlignVCenter,
                             r == 0 ? QStringLiteral("classic") : QStringLiteral("vivid"));
            for (std::size_t i = 0; i < rows[r].size(); ++i) {
                const Rgb& colour = rows[r][i];
                painter.fillRect(2 * kGap + kCover + 60 + static_cast<int>(i) * kSwatch, y, kSwatch - 6, kSwatch,
                                 QColor::fromRgbF(static_cast<float>(colour.red), static_cast<float>(colour.green),
                                                  static_cast<float>(colour.blue)));
            }
        }
    }
    painter.end();
    return picture.save(target, "png") ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() >= 3 && arguments[1] == QStringLiteral("prepare"))
        return prepare(arguments[2], arguments.mid(3));
    if (arguments.size() >= 4 && arguments[1] == QStringLiteral("swatches"))
        return swatches(arguments[2], arguments.mid(3));
    if (arguments.size() == 4 && arguments[1] == QStringLiteral("measure"))
        return measureAll(arguments[2], arguments[3]);
    std::fprintf(stderr, "usage: palette_bench prepare DIR PHOTO... | measure DIR REFS\n");
    return 2;
}
