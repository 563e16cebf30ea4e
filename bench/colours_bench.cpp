// Cover bytes to colour list, side by side with the decoding floor: libjpeg-turbo at 1/8 scale
// for the JPEG covers, a full libpng and a full libspng decode for the PNG cover. The covers are made here, with
// photo-like content (soft shapes over gradients, with film grain), so every run sees the same.
//
//   colours_bench                       runs the benchmarks
//   colours_bench --write-covers DIR    writes the four covers to DIR and exits (for the peers)

#include "adapters/covers/cover_file_decoder.h"
#include "core/palette/eyedropper.h"
#include "core/palette/vivid_palette.h"
#include "support/recording_log.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QRadialGradient>

#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <png.h>
#include <spng.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using glowcast::NullLog;

struct Cover {
    const char* name;
    int side;
    const char* format;
};

constexpr Cover kCovers[] = {
    {"jpeg-640", 640, "jpeg"},
    {"jpeg-3000", 3000, "jpeg"},
    {"jpeg-6000", 6000, "jpeg"},
    {"png-1400", 1400, "png"},
};

QImage photoLike(int side, unsigned seed)
{
    std::mt19937 random(seed);
    const auto uniform = [&random](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    QImage image(side, side, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, side);
    sky.setColorAt(0, QColor(uniform(20, 120), uniform(60, 160), uniform(120, 230)));
    sky.setColorAt(1, QColor(uniform(120, 250), uniform(80, 200), uniform(40, 140)));
    painter.fillRect(image.rect(), sky);
    painter.setPen(Qt::NoPen);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 80; ++i) {
        const QPointF centre(uniform(0, side), uniform(0, side));
        const qreal radius = side * uniform(3, 30) / 100.0;
        QRadialGradient blob(centre, radius);
        const QColor colour(uniform(0, 255), uniform(0, 255), uniform(0, 255), uniform(90, 230));
        blob.setColorAt(0, colour);
        blob.setColorAt(0.7, QColor(colour.red(), colour.green(), colour.blue(), colour.alpha() / 2));
        blob.setColorAt(1, QColor(colour.red(), colour.green(), colour.blue(), 0));
        painter.setBrush(blob);
        painter.drawEllipse(centre, radius, radius * uniform(50, 150) / 100.0);
    }
    painter.end();
    // Film grain: photographs are never smooth, and grain is what makes their files large.
    std::uniform_int_distribution<int> grain(-10, 10);
    for (int y = 0; y < side; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < side; ++x) {
            const int g = grain(random);
            row[x] = qRgb(std::clamp(qRed(row[x]) + g, 0, 255), std::clamp(qGreen(row[x]) + g, 0, 255),
                          std::clamp(qBlue(row[x]) + g, 0, 255));
        }
    }
    return image;
}

QByteArray encodedCover(const Cover& cover)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, cover.format);
    writer.setQuality(std::strcmp(cover.format, "jpeg") == 0 ? 90 : -1);
    if (!writer.write(photoLike(cover.side, static_cast<unsigned>(cover.side))))
        std::fprintf(stderr, "cannot encode %s\n", cover.name);
    return bytes;
}

const QByteArray& coverBytes(int index)
{
    static std::vector<QByteArray> covers = [] {
        std::vector<QByteArray> made;
        for (const Cover& cover : kCovers)
            made.push_back(encodedCover(cover));
        return made;
    }();
    return covers[static_cast<std::size_t>(index)];
}

std::span<const std::uint8_t> view(const QByteArray& bytes)
{
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size())};
}

void coverToColours(benchmark::State& state)
{
    const QByteArray& bytes = coverBytes(static_cast<int>(state.range(0)));
    NullLog log;
    glowcast::CoverFileDecoder decoder(log);
    for (auto _ : state) {
        const std::unique_ptr<glowcast::CoverImage> cover = decoder.decode(view(bytes));
        glowcast::Eyedropper eyedropper(cover.get(), log);
        std::vector<glowcast::Colour> colours = eyedropper.getColours(5);
        benchmark::DoNotOptimize(colours.data());
        if (colours.size() != 5)
            state.SkipWithError("no colours");
    }
    state.SetLabel(kCovers[state.range(0)].name);
}

// The same with the vivid palette: the same decoding and 80 x 80 redraw, then the vivid picker.
void coverToVividColours(benchmark::State& state)
{
    const QByteArray& bytes = coverBytes(static_cast<int>(state.range(0)));
    NullLog log;
    glowcast::CoverFileDecoder decoder(log);
    for (auto _ : state) {
        const std::unique_ptr<glowcast::CoverImage> cover = decoder.decode(view(bytes));
        const glowcast::PixelCanvas canvas =
            cover->drawInto(glowcast::Eyedropper::kCanvasSide, glowcast::Eyedropper::kCanvasSide);
        std::vector<glowcast::Colour> colours = glowcast::vividColours(canvas, 5);
        benchmark::DoNotOptimize(colours.data());
    }
    state.SetLabel(kCovers[state.range(0)].name);
}

// The redraw alone, as the window and the headless service make it: the cover kept at 240 x 240,
// drawn into the 80 x 80 canvas the palettes read.
void redrawAt80(benchmark::State& state)
{
    NullLog log;
    const std::unique_ptr<glowcast::CoverImage> cover =
        glowcast::CoverFileDecoder(log, 240).decode(view(coverBytes(static_cast<int>(state.range(0)))));
    for (auto _ : state) {
        const glowcast::PixelCanvas canvas =
            cover->drawInto(glowcast::Eyedropper::kCanvasSide, glowcast::Eyedropper::kCanvasSide);
        benchmark::DoNotOptimize(canvas.rgba.data());
    }
    state.SetLabel(kCovers[state.range(0)].name);
}

void jpegFloor(benchmark::State& state)
{
    const QByteArray& bytes = coverBytes(static_cast<int>(state.range(0)));
    std::vector<unsigned char> pixels;
    for (auto _ : state) {
        jpeg_decompress_struct info{};
        jpeg_error_mgr errors{};
        info.err = jpeg_std_error(&errors);
        jpeg_create_decompress(&info);
        jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.constData()),
                     static_cast<unsigned long>(bytes.size()));
        jpeg_read_header(&info, TRUE);
        info.scale_num = 1;
        info.scale_denom = 8;
        info.out_color_space = JCS_RGB;
        jpeg_start_decompress(&info);
        const std::size_t stride = static_cast<std::size_t>(info.output_width) * info.output_components;
        pixels.resize(stride * info.output_height);
        while (info.output_scanline < info.output_height) {
            JSAMPROW row = pixels.data() + stride * info.output_scanline;
            jpeg_read_scanlines(&info, &row, 1);
        }
        jpeg_finish_decompress(&info);
        jpeg_destroy_decompress(&info);
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetLabel(kCovers[state.range(0)].name);
}

void pngFloor(benchmark::State& state)
{
    const QByteArray& bytes = coverBytes(static_cast<int>(state.range(0)));
    std::vector<unsigned char> pixels;
    for (auto _ : state) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        png_image_begin_read_from_memory(&image, bytes.constData(), static_cast<std::size_t>(bytes.size()));
        image.format = PNG_FORMAT_RGBA;
        pixels.resize(PNG_IMAGE_SIZE(image));
        png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr);
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetLabel(kCovers[state.range(0)].name);
}

// The floor the decoder's PNG path is held to: the whole image decoded to RGBA with libspng.
void spngFloor(benchmark::State& state)
{
    const QByteArray& bytes = coverBytes(static_cast<int>(state.range(0)));
    std::vector<unsigned char> pixels;
    for (auto _ : state) {
        spng_ctx* context = spng_ctx_new(0);
        spng_set_png_buffer(context, bytes.constData(), static_cast<std::size_t>(bytes.size()));
        std::size_t size = 0;
        spng_decoded_image_size(context, SPNG_FMT_RGBA8, &size);
        pixels.resize(size);
        spng_decode_image(context, pixels.data(), pixels.size(), SPNG_FMT_RGBA8, 0);
        spng_ctx_free(context);
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetLabel(kCovers[state.range(0)].name);
}

void configure(benchmark::internal::Benchmark* benchmark)
{
    benchmark->Unit(benchmark::kMillisecond)->MinTime(0.3)->Repetitions(9)->ReportAggregatesOnly(true);
}

BENCHMARK(coverToColours)->Apply(configure)->DenseRange(0, 3);
BENCHMARK(coverToVividColours)->Apply(configure)->DenseRange(0, 3);
BENCHMARK(redrawAt80)->Apply(configure)->Unit(benchmark::kMicrosecond)->DenseRange(0, 3);
BENCHMARK(jpegFloor)->Apply(configure)->DenseRange(0, 2);
BENCHMARK(pngFloor)->Apply(configure)->Arg(3);
BENCHMARK(spngFloor)->Apply(configure)->Arg(3);

int writeCovers(const char* directory)
{
    if (!QDir().mkpath(QString::fromLocal8Bit(directory)))
        return 1;
    for (int i = 0; i < 4; ++i) {
        const Cover& cover = kCovers[i];
        QFile file(QDir(QString::fromLocal8Bit(directory))
                       .filePath(QString::fromLatin1(cover.name) + QLatin1Char('.') +
                                 QString::fromLatin1(std::strcmp(cover.format, "jpeg") == 0 ? "jpg" : "png")));
        if (!file.open(QIODevice::WriteOnly) || file.write(coverBytes(i)) != coverBytes(i).size())
            return 1;
        std::printf("%s\n", file.fileName().toLocal8Bit().constData());
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--write-covers") == 0)
        return writeCovers(argv[2]);
    benchmark::Initialize(&argc, argv);
    for (int i = 0; i < 4; ++i)
        std::fprintf(stderr, "%s: %lld bytes\n", kCovers[i].name, static_cast<long long>(coverBytes(i).size()));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
