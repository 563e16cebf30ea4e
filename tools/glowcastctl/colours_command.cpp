#include "glowcastctl/commands.h"

#include "adapters/covers/cover_file_decoder.h"
#include "adapters/covers/png_file.h"
#include "adapters/files/file_preferences.h"
#include "adapters/files/regular_file.h"
#include "adapters/qt/program_command_line.h"
#include "core/bridge/bridge_body.h"
#include "core/covers/art_url.h"
#include "core/palette/eyedropper.h"
#include "core/palette/lamp_colour.h"
#include "core/palette/palette.h"
#include "core/palette/vivid_palette.h"
#include "core/settings/settings.h"
#include "core/text/log_text.h"

#include <QString>

#include <array>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace glowcast::ctl {

namespace {

constexpr int kMaxColours = 1000;

int byte(double component)
{
    return static_cast<int>(component * 255.0 + 0.5);
}

bool writePreview(const PixelCanvas& canvas, const std::vector<Colour>& colours, const std::string& path)
{
    constexpr int kZoom = 4;
    constexpr int kSwatch = 64;
    const int side = canvas.width * kZoom;
    const int height = std::max(side, static_cast<int>(colours.size()) * kSwatch);
    const int width = side + kSwatch * 2;
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3, 255);
    const auto paint = [&](int x, int y, std::array<int, 3> colour) {
        const auto at =
            (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3;
        for (std::size_t c = 0; c < 3; ++c)
            rgb[at + c] = static_cast<std::uint8_t>(colour[c]);
    };
    // The redraw enlarged over a chequerboard, which shows where the cover left the canvas transparent.
    for (int y = 0; y < side && y / kZoom < canvas.height; ++y) {
        for (int x = 0; x < side; ++x) {
            const int board = (x / 8 + y / 8) % 2 == 0 ? 204 : 255;
            const std::uint8_t* pixel =
                canvas.rgba.data() + (static_cast<std::size_t>(y / kZoom) * static_cast<std::size_t>(canvas.width) +
                                      static_cast<std::size_t>(x / kZoom)) *
                                         4;
            std::array<int, 3> over{};
            for (std::size_t c = 0; c < 3; ++c)
                over[c] = (pixel[c] * pixel[3] + board * (255 - pixel[3]) + 127) / 255;
            paint(x, y, over);
        }
    }
    for (std::size_t i = 0; i < colours.size(); ++i) {
        const Colour& colour = colours[i];
        for (int y = static_cast<int>(i) * kSwatch + 4; y < static_cast<int>(i + 1) * kSwatch - 4; ++y)
            for (int x = side + kSwatch / 2; x < side + kSwatch / 2 + kSwatch; ++x)
                paint(x, y, {byte(colour.red), byte(colour.green), byte(colour.blue)});
    }
    const std::vector<std::uint8_t> png = encodePng(width, height, rgb);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    return !png.empty() && out.good();
}

} // namespace

int runColours(Arguments args)
{
    ProgramCommandLine line(
        QStringLiteral("glowcastctl colours"),
        QStringLiteral("Prints the N colours (default 5) the lamps would get for the cover IMAGE, in lamp order:\n"
                       "each colour's RGB (hex and 0..1), the lamp brightness \"bri\", the \"xy\" text as sent and\n"
                       "the correction applied to it, if any."));
    line.addVerboseOption();
    const QCommandLineOption preview(QStringLiteral("preview"),
                                     QStringLiteral("Write the 80 x 80 redraw, enlarged, beside the swatches."),
                                     QStringLiteral("OUT.png"));
    const QCommandLineOption paletteOption(
        QStringLiteral("palette"),
        QStringLiteral("The palette to use (default: the \"palette\" setting, else classic)."),
        QStringLiteral("classic|vivid"));
    const QCommandLineOption jsonOption(
        QStringLiteral("json"), QStringLiteral("Print [{\"hex\":\"#rrggbb\",\"bri\":n,\"xy\":[x,y]}, ...] instead."));
    line.parser.addOptions({preview, paletteOption, jsonOption});
    line.parser.addPositionalArgument(QStringLiteral("IMAGE"), QStringLiteral("The cover."));
    line.parser.addPositionalArgument(QStringLiteral("N"), QStringLiteral("How many colours, 0 to 1000."),
                                      QStringLiteral("[N]"));
    if (const std::optional<int> status = line.parse(args, 1, 2))
        return *status;
    const std::vector<std::string> words = line.words();
    const std::optional<std::string> imagePath = words[0];
    const std::optional<std::string> previewPath = line.value(preview.names().constFirst());
    std::optional<int> wanted;
    if (words.size() == 2) {
        const std::string& word = words[1];
        int n = -1;
        const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), n);
        if (error != std::errc{} || end != word.data() + word.size() || n < 0 || n > kMaxColours)
            return line.refuse(QStringLiteral("N must be a whole number from 0 to %1, not '%2'")
                                   .arg(kMaxColours)
                                   .arg(QString::fromStdString(word)));
        wanted = n;
    }
    const bool json = line.parser.isSet(jsonOption);
    std::optional<Palette> palette;
    if (const std::optional<std::string> named = line.value(paletteOption.names().constFirst())) {
        palette = paletteNamed(*named);
        if (!palette)
            return line.refuse(QStringLiteral("--palette is classic or vivid"));
    }

    CommandLog log(line.verbose());
    // Read through a small buffer, not whole: a large JPEG decodes at an eighth of its size, and
    // fresh memory for all of its bytes would cost more than the decode.
    const OpenedFile file = openRegularFile(*imagePath, kMaximumCoverBytes);
    if (!file.ok()) {
        std::fprintf(stderr, "glowcastctl colours: %s: %s\n", imagePath->c_str(), file.reason.c_str());
        return 1;
    }
    const DecodedCover decoded = CoverFileDecoder(log).decodeCoverFile(file.descriptor.get(), file.status.st_size);
    if (!decoded.image) {
        std::fprintf(stderr, "glowcastctl colours: %s: cannot use this cover (%s)\n", imagePath->c_str(),
                     decoded.refusal.c_str());
        return 1;
    }
    const CoverImage* cover = decoded.image.get();

    if (!palette) {
        FilePreferences preferences{log, FilePreferences::defaultDirectory()};
        palette = paletteFrom(Settings{preferences, log});
    }
    const std::vector<Colour> colours = paletteColours(*palette, cover, wanted.value_or(5), log);
    // What each lamp is sent: the classic conversion with the correction it made, or the vivid one.
    struct Sent {
        std::int32_t bri = 0;
        std::string xy;
        const char* correction = "none";
    };
    std::vector<Sent> sent;
    for (const Colour& colour : colours) {
        const bool vivid = *palette == Palette::Vivid;
        const Dictionary body = firstBridgeBody(vivid ? vividLampTarget(colour) : lampTargetOf(colour, log));
        const XyCorrection correction = vivid ? XyCorrection::None : correctedXy(colour).correction;
        sent.push_back({static_cast<std::int32_t>(body.find("bri")->asNumber().value_or(0)),
                        body.text("xy").value_or(""),
                        correction == XyCorrection::Blue    ? "blue"
                        : correction == XyCorrection::Green ? "green"
                                                            : "none"});
    }
    if (json) {
        std::string text = "[";
        for (std::size_t i = 0; i < colours.size(); ++i) {
            std::array<char, 16> hex{};
            std::snprintf(hex.data(), hex.size(), "#%02x%02x%02x", byte(colours[i].red), byte(colours[i].green),
                          byte(colours[i].blue));
            text += (i == 0 ? "" : ",") + std::string{"{\"hex\":"} + jsonString(hex.data()) +
                    ",\"bri\":" + std::to_string(sent[i].bri) + ",\"xy\":" + sent[i].xy + "}";
        }
        std::printf("%s]\n", text.c_str());
    } else {
        if (colours.empty() && wanted.value_or(5) > 0) {
            std::printf("%s: no colour to send: no part of the cover is both saturated and light, or very bright;\n"
                        "every lamp would get {\"bri\":0,\"sat\":0}\n",
                        imagePath->c_str());
        }
        if (!colours.empty())
            std::printf(" #  hex      red    green  blue   bri  xy             correction\n");
        for (std::size_t i = 0; i < colours.size(); ++i) {
            const Colour& colour = colours[i];
            std::printf("%2zu  #%02x%02x%02x  %.3f  %.3f  %.3f  %3d  %-13s  %s\n", i + 1, byte(colour.red),
                        byte(colour.green), byte(colour.blue), colour.red, colour.green, colour.blue, sent[i].bri,
                        sent[i].xy.c_str(), sent[i].correction);
        }
    }

    if (previewPath) {
        const PixelCanvas canvas = cover->drawInto(Eyedropper::kCanvasSide, Eyedropper::kCanvasSide);
        if (!writePreview(canvas, colours, *previewPath)) {
            std::fprintf(stderr, "glowcastctl colours: cannot write the preview %s\n", previewPath->c_str());
            return 1;
        }
    }
    return 0;
}

} // namespace glowcast::ctl
