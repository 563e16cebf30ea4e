#include "commands.h"

#include "adapters/files/file_preferences.h"
#include "adapters/files/regular_file.h"
#include "adapters/process/stderr_log.h"
#include "adapters/qt/qt_cover_decoder.h"
#include "core/covers/art_url.h"
#include "core/eyedropper.h"
#include "core/lamp_colour.h"
#include "core/log_text.h"
#include "core/palette/palette.h"
#include "core/palette/vivid_palette.h"
#include "core/settings.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QString>

#include <array>
#include <charconv>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace glowcast::ctl {

namespace {

constexpr int kMaxColours = 1000;

// The analysis's log lines go to standard error when asked for, else nowhere.
class CommandLog final : public Log {
public:
    explicit CommandLog(bool verbose) : m_stderr(verbose ? std::optional<StderrLog>("glowcastctl") : std::nullopt) {}
    void write(std::string_view line) override
    {
        if (m_stderr)
            m_stderr->write(line);
    }

private:
    std::optional<StderrLog> m_stderr;
};

void printHelp(std::FILE* to)
{
    std::fprintf(to, "usage: glowcastctl colours IMAGE [N] [--palette classic|vivid] [--json] [--preview OUT.png]\n"
                     "                          [--verbose]\n\n"
                     "Prints the N colours (default 5) the lamps would get for the cover IMAGE, in lamp order:\n"
                     "each colour's RGB (hex and 0..1), the lamp brightness \"bri\", the \"xy\" text as sent and\n"
                     "the correction applied to it, if any.\n"
                     "  --palette P        the palette to use (default: the \"palette\" setting, else classic)\n"
                     "  --json             prints [{\"hex\":\"#rrggbb\",\"bri\":n,\"xy\":[x,y]}, ...] instead\n"
                     "  --preview OUT.png  writes the 80 x 80 redraw, enlarged, beside the swatches\n"
                     "  --verbose          shows the analysis log lines on standard error\n");
}

int byte(double component)
{
    return static_cast<int>(component * 255.0 + 0.5);
}

bool writePreview(const PixelCanvas& canvas, const std::vector<Colour>& colours, const QString& path)
{
    constexpr int kZoom = 4;
    constexpr int kSwatch = 64;
    const int side = canvas.width * kZoom;
    const int height = std::max(side, static_cast<int>(colours.size()) * kSwatch);
    QImage picture(side + kSwatch * 2, height, QImage::Format_RGB32);
    picture.fill(QColor(255, 255, 255));
    QPainter painter(&picture);
    // A chequerboard under the redraw shows where the cover left the canvas transparent.
    for (int y = 0; y < side; y += 8)
        for (int x = 0; x < side; x += 8)
            painter.fillRect(x, y, 8, 8, ((x + y) / 8) % 2 == 0 ? QColor(204, 204, 204) : QColor(255, 255, 255));
    const QImage redraw(canvas.rgba.data(), canvas.width, canvas.height, canvas.width * 4, QImage::Format_RGBA8888);
    painter.drawImage(QRect(0, 0, side, side), redraw);
    for (std::size_t i = 0; i < colours.size(); ++i) {
        const Colour& colour = colours[i];
        painter.fillRect(side + kSwatch / 2, static_cast<int>(i) * kSwatch + 4, kSwatch, kSwatch - 8,
                         QColor(byte(colour.red), byte(colour.green), byte(colour.blue)));
    }
    painter.end();
    return picture.save(path, "png");
}

} // namespace

int runColours(Arguments args)
{
    std::optional<std::string> imagePath;
    std::optional<std::string> previewPath;
    std::optional<int> wanted;
    bool verbose = false;
    bool json = false;
    std::optional<Palette> palette;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word == "--help" || word == "-h") {
            printHelp(stdout);
            return 0;
        }
        if (word == "--verbose") {
            verbose = true;
        } else if (word == "--json") {
            json = true;
        } else if (word == "--palette") {
            palette = i + 1 < args.size() ? paletteNamed(args[i + 1]) : std::nullopt;
            if (!palette) {
                std::fprintf(stderr, "glowcastctl colours: --palette is classic or vivid\n");
                return 2;
            }
            ++i;
        } else if (word == "--preview") {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "glowcastctl colours: --preview needs a file name\n");
                return 2;
            }
            previewPath = args[++i];
        } else if (!imagePath) {
            imagePath = word;
        } else if (!wanted) {
            int n = -1;
            const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), n);
            if (error != std::errc{} || end != word.data() + word.size() || n < 0 || n > kMaxColours) {
                std::fprintf(stderr, "glowcastctl colours: N must be a whole number from 0 to %d, not '%s'\n",
                             kMaxColours, word.c_str());
                return 2;
            }
            wanted = n;
        } else {
            std::fprintf(stderr, "glowcastctl colours: unexpected '%s'\n\n", word.c_str());
            printHelp(stderr);
            return 2;
        }
    }
    if (!imagePath) {
        printHelp(stderr);
        return 2;
    }

    CommandLog log(verbose);
    const FileRead file = readRegularFile(*imagePath, kMaximumCoverBytes);
    if (!file.ok()) {
        std::fprintf(stderr, "glowcastctl colours: %s: %s\n", imagePath->c_str(), file.reason.c_str());
        return 1;
    }
    const DecodedCover decoded = QtCoverDecoder(log).decodeCover(file.bytes);
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
        if (*palette == Palette::Vivid) {
            const Dictionary body = vividLampStateBody(colour);
            sent.push_back({static_cast<std::int32_t>(body.find("bri")->asNumber().value_or(0)),
                            body.text("xy").value_or(""), "none"});
            continue;
        }
        const XyValue xy = correctedXyValue(colour, log);
        sent.push_back({briValueOf(colour), xy.text,
                        xy.correction == XyCorrection::Blue    ? "blue"
                        : xy.correction == XyCorrection::Green ? "green"
                                                               : "none"});
    }
    if (json) {
        std::string text = "[";
        for (std::size_t i = 0; i < colours.size(); ++i) {
            std::array<char, 16> hex{};
            std::snprintf(hex.data(), hex.size(), "#%02x%02x%02x", byte(colours[i].red), byte(colours[i].green),
                          byte(colours[i].blue));
            text += (i == 0 ? "" : ",") + std::string{"{\"hex\":\""} + hex.data() +
                    "\",\"bri\":" + std::to_string(sent[i].bri) + ",\"xy\":" + sent[i].xy + "}";
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
        if (!writePreview(canvas, colours, QString::fromStdString(*previewPath))) {
            std::fprintf(stderr, "glowcastctl colours: cannot write the preview %s\n", previewPath->c_str());
            return 1;
        }
    }
    return 0;
}

} // namespace glowcast::ctl
