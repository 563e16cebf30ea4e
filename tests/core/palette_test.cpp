#include "core/bridge/bridge_body.h"
#include "core/colour/perceptual.h"
#include "core/json/json_codec.h"
#include "core/palette/colour_quantiser.h"
#include "core/palette/eyedropper.h"
#include "core/palette/palette.h"
#include "core/palette/palette_document.h"
#include "core/palette/vivid_palette.h"
#include "support/fake_cover.h"
#include "support/printing.h"
#include "support/recording_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

namespace glowcast {
namespace {

TEST(PerceptualTest, Ciede2000GivesThePublishedDifferencesAndRedAndWhiteTheirKnownCoordinates)
{
    // Pairs from Sharma, Wu and Dalal's test data for the formula.
    const std::tuple<CieLab, CieLab, double> rows[] = {
        {{50, 2.6772, -79.7751}, {50, 0, -82.7485}, 2.0425},
        {{50, 0, 0}, {50, -1, 2}, 2.3669},
        {{50, 2.49, -0.001}, {50, -2.49, 0.0009}, 7.1792},
        {{50, 2.5, 0}, {73, 25, -18}, 27.1492},
        {{50, 2.5, 0}, {61, -5, 29}, 22.8977},
        {{50, 2.5, 0}, {56, -27, -3}, 31.9030},
        {{50, 2.5, 0}, {58, 24, 15}, 19.4535},
        {{50, 2.5, 0}, {50, 3.1736, 0.5854}, 1.0000},
        {{60.2574, -34.0099, 36.2677}, {60.4626, -34.1751, 39.4387}, 1.2644},
        {{50, 80, 60}, {50, 20, -15}, 33.2533}, // worked by hand: the hues add up to 360, their mean is 0
    };
    for (const auto& [first, second, difference] : rows) {
        EXPECT_NEAR(ciede2000(first, second), difference, 5e-5);
        EXPECT_NEAR(ciede2000(second, first), difference, 5e-5);
    }

    // Red and white have their known coordinates.
    const auto expectNear = [](std::array<double, 3> got, std::array<double, 3> expected, double tolerance) {
        for (std::size_t k = 0; k < 3; ++k)
            EXPECT_NEAR(got[k], expected[k], tolerance) << "coordinate " << k;
    };
    const Oklab red = oklabFromLinear({1, 0, 0});
    expectNear({red.lightness, red.a, red.b}, {0.627955, 0.224863, 0.125846}, 1e-5);
    const CieLab redLab = cieLabFromLinear({1, 0, 0});
    expectNear({redLab.lightness, redLab.a, redLab.b}, {53.2408, 80.0925, 67.2032}, 1e-3);
    const Oklab white = oklabFromLinear({1, 1, 1});
    expectNear({white.lightness, white.a, white.b}, {1, 0, 0}, 1e-6);
    const LinearRgb back = linearFromOklab(red);
    expectNear({back.red, back.green, back.blue}, {1, 0, 0}, 1e-6);
    EXPECT_NEAR(encodedFromLinear(linearFromEncoded(0.5)), 0.5, 1e-12);
    EXPECT_NEAR(linearFromEncoded(0.04), 0.04 / 12.92, 1e-12); // the curve's straight foot
}

TEST(VividPaletteTest, LampLightKeepsTheColoursOwnChromaticity)
{
    const std::pair<Colour, Dictionary> rows[] = {
        {{1, 0, 0}, {{"bri", 254}, {"xy", "[0.640,0.330]"}}},    {{0, 0, 1}, {{"bri", 254}, {"xy", "[0.150,0.060]"}}},
        {{0, 1, 1}, {{"bri", 254}, {"xy", "[0.225,0.329]"}}},   // not moved to a fixed blue
        {{0, 0.5, 0}, {{"bri", 127}, {"xy", "[0.300,0.600]"}}}, // not moved to a fixed green
        {{1, 1, 1}, {{"bri", 254}, {"xy", "[0.313,0.329]"}}},    {{0, 0, 0}, {{"bri", 1}, {"xy", "[0.313,0.329]"}}},
        {{2, -1, NAN}, {{"bri", 254}, {"xy", "[0.640,0.330]"}}},
    };
    for (const auto& [colour, body] : rows)
        EXPECT_EQ(firstBridgeBody(vividLampTarget(colour)), body) << colour.red << " " << colour.green;
}

using Pixel = std::array<std::uint8_t, 4>;

PixelCanvas canvas(int side, const std::vector<std::pair<Pixel, int>>& runs)
{
    // Runs of pixels row by row; the last run fills what is left.
    PixelCanvas made{side, side, {}};
    for (const auto& [pixel, count] : runs)
        for (int i = 0; i < count && made.rgba.size() < static_cast<std::size_t>(side * side * 4); ++i)
            made.rgba.insert(made.rgba.end(), pixel.begin(), pixel.end());
    while (made.rgba.size() < static_cast<std::size_t>(side * side * 4))
        made.rgba.insert(made.rgba.end(), runs.back().first.begin(), runs.back().first.end());
    return made;
}

// The bodies as JSON texts, so a failure reads.
std::vector<std::string> bodies(const std::vector<Colour>& colours)
{
    std::vector<std::string> made;
    for (const Colour& colour : colours)
        made.push_back(JSONFromDictionary(firstBridgeBody(vividLampTarget(colour))));
    return made;
}

std::string body(double bri, const char* xy)
{
    return JSONFromDictionary(Dictionary{{"bri", bri}, {"xy", xy}});
}

TEST(VividPaletteTest, PickerRules)
{
    const std::string red = body(254, "[0.640,0.330]");
    const std::string blue = body(254, "[0.150,0.060]");
    const Pixel redPixel{255, 0, 0, 255};
    const Pixel bluePixel{0, 0, 255, 255};
    const std::string yellow = body(231, "[0.419,0.505]");
    const Pixel yellowPixel{255, 255, 0, 255};
    const auto five = [](const std::string& lamp) { return std::vector<std::string>(5, lamp); };
    const auto warm = [&five](double bri) { return five(body(bri, "[0.460,0.411]")); };
    const std::tuple<const char*, PixelCanvas, std::vector<std::string>> rows[] = {
        // No colour: warm white, as bright as the cover is light (grey 128 is Oklab 0.5999), never below 20.
        {"grey", canvas(8, {{{128, 128, 128, 255}, 1}}), warm(152)},
        {"black", canvas(8, {{{0, 0, 0, 255}, 1}}), warm(20)},
        {"white", canvas(8, {{{255, 255, 255, 255}, 1}}), warm(254)},
        {"transparent", canvas(8, {{{255, 0, 0, 0}, 1}}), warm(20)},
        {"nearly transparent", canvas(8, {{{255, 0, 0, 1}, 1}}), five(red)},
        {"greys and white", canvas(8, {{{40, 40, 40, 255}, 20}, {{250, 250, 250, 255}, 1}}), warm(194)},
        {"one pixel", canvas(1, {{redPixel, 1}}), five(red)},
        {"size and bytes disagree", PixelCanvas{4, 4, std::vector<std::uint8_t>(12, 255)}, warm(20)},
        // A black field with a small red accent: the accent on every lamp, never the black.
        {"black field, red accent", canvas(40, {{redPixel, 16}, {{0, 0, 0, 255}, 1}}), five(red)},
        // Two colours for five lamps: they repeat from the strongest (blue: more chroma, same share).
        {"two tone", canvas(8, {{redPixel, 32}, {bluePixel, 1}}), {blue, red, blue, red, blue}},
        // Opacity weighs: the faint red, though more pixels, comes after the opaque blue.
        {"faint red", canvas(8, {{{255, 0, 0, 60}, 48}, {bluePixel, 1}}), {blue, red, blue, red, blue}},
        // Two reds closer than the distance floor: the larger one only.
        {"too close", canvas(8, {{{200, 30, 30, 255}, 40}, {{215, 40, 30, 255}, 1}}), five(body(199, "[0.608,0.330]"))},
        // Two reds closer than the floor with the same share: the richer ((215, 35, 35)).
        {"the richer", canvas(8, {{{190, 70, 70, 255}, 32}, {{215, 35, 35, 255}, 1}}),
         five(body(214, "[0.605,0.330]"))},
        // Light and rich is a colour, not white (yellow, light cyan); light and pale is white.
        {"yellow", canvas(8, {{yellowPixel, 1}}), five(yellow)},
        {"yellow beside orange",
         canvas(8, {{yellowPixel, 40}, {{255, 140, 40, 255}, 1}}),
         {yellow, body(254, "[0.498,0.385]"), yellow, body(254, "[0.498,0.385]"), yellow}},
        {"light cyan", canvas(8, {{{128, 255, 255, 255}, 1}}), five(body(245, "[0.246,0.329]"))},
        {"pale yellow", canvas(8, {{{255, 255, 192, 255}, 1}}), warm(250)},
        // Three lamp colours that take two rounds of swaps (worked out with a separate model of these rules).
        {"two rounds",
         canvas(8, {{{187, 0, 170, 255}, 5},
                    {{170, 187, 85, 255}, 7},
                    {{136, 204, 136, 255}, 4},
                    {{51, 0, 34, 255}, 31},
                    {{187, 238, 0, 255}, 1}}),
         {body(122, "[0.345,0.168]"), body(237, "[0.381,0.535]"), body(203, "[0.308,0.427]"),
          body(122, "[0.345,0.168]"), body(237, "[0.381,0.535]")}},
    };
    for (const auto& [name, cover, expected] : rows)
        EXPECT_EQ(bodies(vividColours(cover, 5)), expected) << name;
    EXPECT_TRUE(vividColours(canvas(1, {{redPixel, 1}}), 0).empty());
    // One lamp takes the cover's one colour as it is, never a shade or a turn of it.
    EXPECT_EQ(bodies(vividColours(canvas(8, {{{144, 27, 53, 255}, 12}, {{8, 20, 8, 255}, 1}}), 1)),
              std::vector<std::string>{body(143, "[0.532,0.296]")});
    // Through the palette's front door: the cover drawn at 80 x 80, the body with its xy.
    RecordingLog log;
    const PatchCover blueCover({{{0, 0, 255}, 6400}});
    std::vector<std::string> sent;
    for (const Colour& colour : paletteColours(Palette::Vivid, &blueCover, 2, log))
        sent.push_back(JSONFromDictionary(firstBridgeBody(vividLampTarget(colour))));
    EXPECT_EQ(sent, std::vector<std::string>(2, blue));
}

TEST(VividPaletteTest, ABusyCoverGivesDistinctVividColoursTheSameEveryRun)
{
    PixelCanvas busy{64, 64, {}};
    unsigned state = 7;
    for (int i = 0; i < 64 * 64; ++i) {
        state = state * 1103515245u + 12345u;
        busy.rgba.insert(busy.rgba.end(), {static_cast<std::uint8_t>(i % 64 * 4), static_cast<std::uint8_t>(i / 64 * 4),
                                           static_cast<std::uint8_t>((state >> 16) & 255), 255});
    }
    // And five reds too close together for five lamps: the others are their hues turned, never a repeat.
    const PixelCanvas reds{
        5, 1, {200, 30, 30, 255, 210, 40, 35, 255, 190, 35, 40, 255, 205, 50, 30, 255, 215, 30, 45, 255}};
    // The reds' five exact bodies, turned fills among them (worked out with a separate model of these rules).
    EXPECT_EQ(
        bodies(vividColours(reds, 5)),
        (std::vector<std::string>{body(209, "[0.600,0.333]"), body(185, "[0.307,0.169]"), body(209, "[0.500,0.263]"),
                                  body(138, "[0.617,0.317]"), body(179, "[0.549,0.402]")}));
    for (const PixelCanvas& cover : {busy, reds}) {
        const std::vector<Colour> colours = vividColours(cover, 5);
        EXPECT_EQ(vividColours(cover, 5), colours);
        ASSERT_EQ(colours.size(), 5u);
        std::vector<CieLab> labs;
        for (const Colour& c : colours) { // in range: the fuzz target's check
            const LinearRgb light{linearFromEncoded(c.red), linearFromEncoded(c.green), linearFromEncoded(c.blue)};
            labs.push_back(cieLabFromLinear(light));
            EXPECT_GE(oklabFromLinear(light).chroma(), 0.04);
            EXPECT_GE(labs.back().lightness, 15.0);
        }
        for (std::size_t p = 0; p < labs.size(); ++p)
            for (std::size_t q = p + 1; q < labs.size(); ++q)
                EXPECT_GE(ciede2000(labs[p], labs[q]), 15.5) << p << " " << q;
    }
}

TEST(VividPaletteTest, OrangesAndTansAtACandlesChromaticityAreTurnedOffTheWhites)
{
    // The lamp's body after the fewest turns of 3 degrees that take it 0.008 (CIE 1960 u, v) off the white
    // light curve, still warm; worked out apart from this code from the colour formulas.
    const std::pair<Pixel, std::string> rows[] = {
        {{255, 140, 40, 255}, body(254, "[0.498,0.385]")},  // turned 9 degrees
        {{200, 150, 100, 255}, body(205, "[0.418,0.378]")}, // turned 12 degrees
        {{230, 170, 90, 255}, body(224, "[0.434,0.425]")},  // turned 6 degrees
        {{180, 135, 90, 255}, body(185, "[0.416,0.374]")},  // turned 15 degrees
    };
    for (const auto& [pixel, lamp] : rows)
        EXPECT_EQ(bodies(vividColours(canvas(4, {{pixel, 1}}), 1)), std::vector<std::string>{lamp});
}

TEST(ColourQuantiserTest, GroupsHeaviestFirstAndKeepsTheTotalWeight)
{
    const std::vector<ColourCluster> clusters =
        quantiseColours(canvas(4, {{{255, 0, 0, 255}, 6}, {{0, 0, 255, 51}, 9}, {{0, 0, 255, 255}, 1}}), 16);
    ASSERT_EQ(clusters.size(), 2u);
    EXPECT_NEAR(clusters[0].weight, 6.0, 1e-9);
    EXPECT_NEAR(clusters[0].centre.lightness, 0.627955, 1e-5);
    // The faint blue and the opaque one share a bin: one colour, weighed 9 x 0.2 + 1.
    EXPECT_NEAR(clusters[1].weight, 2.8, 1e-9);
    EXPECT_NEAR(clusters[1].centre.lightness, 0.452014, 1e-5);
    EXPECT_TRUE(quantiseColours(canvas(4, {{{9, 9, 9, 255}, 1}}), 0).empty());
    // Red, green and blue stay three groups, each nearest its own centre; black, dark red and green in
    // two groups part green from the nearer pair.
    const std::pair<PixelCanvas, std::vector<double>> rows[] = {
        {canvas(4, {{{255, 0, 0, 255}, 8}, {{0, 255, 0, 255}, 4}, {{0, 0, 255, 255}, 4}}), {8, 4, 4}},
        {canvas(8, {{{0, 0, 0, 255}, 16}, {{170, 0, 0, 255}, 16}, {{0, 255, 0, 255}, 32}}), {32, 32}},
        // Of two boxes, the wider is parted (green from blue), not the heavier (two near reds).
        {canvas(4, {{{255, 0, 0, 255}, 7}, {{238, 0, 0, 255}, 7}, {{0, 255, 0, 255}, 1}, {{0, 0, 255, 255}, 1}}),
         {14, 1, 1}},
        // A box of two colours is parted when it is the widest, though another holds more colours.
        {canvas(
             4,
             {{{113, 47, 205, 255}, 3}, {{168, 206, 45, 255}, 5}, {{87, 144, 156, 255}, 4}, {{234, 45, 195, 255}, 4}}),
         {7, 5, 4}},
        // Parted across the widest axis, here not lightness: the pink from the other two.
        {canvas(4, {{{102, 68, 85, 255}, 2}, {{34, 187, 204, 255}, 3}, {{255, 68, 136, 255}, 11}}), {11, 5}},
        // Eight colours whose three groups k-means settles only after more than two rounds.
        {canvas(8, {{{213, 245, 172, 255}, 11},
                    {{16, 10, 6, 255}, 10},
                    {{39, 43, 202, 255}, 5},
                    {{144, 129, 254, 255}, 10},
                    {{63, 55, 228, 255}, 4},
                    {{117, 93, 128, 255}, 4},
                    {{74, 147, 35, 255}, 10},
                    {{50, 105, 178, 255}, 10}}),
         {43, 11, 10}}};
    for (const auto& [cover, expected] : rows) {
        std::vector<double> weights;
        for (const ColourCluster& cluster : quantiseColours(cover, expected.size()))
            weights.push_back(cluster.weight);
        EXPECT_EQ(weights, expected);
    }
}

using Patch = PatchCover::Patch;
using Colours = std::vector<Colour>;

// The pixel groups of the documented worked example; components are the nearest 8-bit values.
const std::vector<Patch> kWorkedExample = {
    {{204, 77, 26}, 2000},   // 0.80, 0.30, 0.10 -> 518
    {{214, 89, 38}, 1500},   // 0.84, 0.35, 0.15 -> 66054
    {{255, 255, 255}, 1200}, // white -> 526344
    {{51, 102, 230}, 800},   // 0.20, 0.40, 0.90 -> 459521
    {{26, 179, 51}, 500},    // 0.10, 0.70, 0.20 -> 66816
    {{128, 128, 128}, 300},  // mid grey, not counted
    {{51, 13, 13}, 100},     // dark red, not counted
};

TEST(EyedropperTest, TakesDistinctColoursAndRepeatsThem)
{
    const Colour red = Colour(1, 0, 0);
    const Colour blue = Colour(0, 0, 0.625);
    const std::vector<Patch> redBlue{{{255, 0, 0}, 2000}, {{0, 0, 160}, 1000}};
    // clang-format off
    // What, the pixel groups (on opaque black, which never counts), the colours wanted, those given, and
    // how many the selection took before the fill step.
    const std::tuple<const char*, std::vector<Patch>, int, Colours, std::size_t> cases[] = {
        {"worked example", kWorkedExample, 5, {{0.75, 0.25, 0}, {0.125, 0.375, 0.875}, {0, 0.625, 0.125}, {0.75, 0.25, 0}, {0.125, 0.375, 0.875}}, 3},
        {"one colour fills the list", {{{255, 0, 0}, 6400}}, 4, Colours(4, red), 1},
        // Only a component of exactly 1.0 reaches index 8; 254 / 255 is index 7.
        {"almost full red", {{{254, 0, 0}, 6400}}, 1, {{0.875, 0, 0}}, 1},
        {"white", {{{255, 255, 255}, 6400}}, 2, Colours(2, {1, 1, 1}), 1},
        {"light grey of 0.9 counts", {{{230, 230, 230}, 6400}}, 2, Colours(2, {0.875, 0.875, 0.875}), 1},
        // Saturation exactly 0.5, brightness below 0.35 and below 0.85 unsaturated do not count.
        {"thresholds are strict", {{{200, 100, 100}, 1000}, {{89, 0, 0}, 1000}, {{216, 216, 216}, 1000}, {{0, 0, 90}, 10}}, 2, Colours(2, {0, 0, 0.25}), 1},
        {"white strikes out bright ones", {{{255, 255, 255}, 3000}, {{255, 230, 26}, 1500}, {{26, 26, 102}, 1000}, {{26, 153, 153}, 900}}, 3, {{1, 1, 1}, {0, 0, 0.375}, {0, 0.5, 0.5}}, 3},
        {"two darks alike, whatever the hue", {{{92, 0, 0}, 2000}, {{0, 0, 92}, 1000}}, 2, Colours(2, {0.25, 0, 0}), 1},
        {"reds around hue 0", {{{160, 0, 40}, 2000}, {{160, 0, 0}, 1000}}, 2, {{0.625, 0, 0.125}, {0.625, 0, 0}}, 2},
        // Pure green's sector 2.5 rounds away from zero to 3, striking out (0, 0.625, 0.125).
        {"halves round away from zero", {{{0, 255, 0}, 3000}, {{0, 160, 40}, 2000}, {{64, 160, 0}, 1000}}, 3, {{0, 1, 0}, {0.25, 0.625, 0}, {0, 1, 0}}, 2},
        // Equal counts: the smaller colour number first, whatever the layout.
        {"equal counts, dim first", {{{160, 0, 0}, 3200}, {{255, 0, 0}, 3200}}, 1, {{0.625, 0, 0}}, 1},
        {"equal counts, bright first", {{{255, 0, 0}, 3200}, {{160, 0, 0}, 3200}}, 1, {{0.625, 0, 0}}, 1},
        {"fill to five", redBlue, 5, {red, blue, red, blue, red}, 2},
        {"one wanted", redBlue, 1, {red}, 1},
        {"none wanted", kWorkedExample, 0, {}, 0},
        {"fewer than none wanted", kWorkedExample, -3, {}, 0},
        // An empty tally must end the fill step with an empty list.
        {"nothing counts", {{{20, 10, 5}, 2000}, {{128, 128, 128}, 2000}, {{200, 200, 200}, 1000}}, 5, {}, 0},
    };
    // clang-format on
    const auto line = [](std::size_t count) { return "returning array with " + std::to_string(count) + " elements"; };
    for (const auto& [what, patches, n, expected, taken] : cases) {
        SCOPED_TRACE(what);
        RecordingLog log;
        const PatchCover cover{patches};
        EXPECT_EQ(Eyedropper(&cover, log).getColours(n), expected);
        EXPECT_EQ(log.lines, (std::vector<std::string>{line(taken), line(expected.size())}));
    }
}

TEST(PaletteDocumentTest, ThePairReadsAtFourAndAHalfToOneWithTheLeastLightnessShift)
{
    // Worked apart from the code: each foreground is the first, going by lightness, that reaches 4.5.
    struct Row {
        const char* name;
        std::vector<RgbBytes> palette;
        const char* background;
        const char* foreground;
        const char* accent;
    };
    const Row rows[] = {
        {"empty", {}, "#000000", "#ffffff", "#ffffff"},
        {"black", {{0, 0, 0}}, "#000000", "#757575", "#757575"},
        {"white", {{255, 255, 255}}, "#ffffff", "#767676", "#767676"},
        {"mid grey, no white is enough", {{128, 128, 128}}, "#808080", "#171717", "#171717"},
        {"all equal, hue kept", {{30, 60, 200}, {30, 60, 200}, {30, 60, 200}}, "#1e3cc8", "#b1bdf3", "#1e3cc8"},
        {"green's hue kept", {{30, 140, 60}}, "#1e8c3c", "#041007", "#041007"},
        {"crimson's hue kept", {{200, 40, 90}}, "#c8285a", "#fae6ec", "#fae6ec"},
        {"lands on 4.5 itself", {{40, 40, 40}, {90, 90, 90}}, "#282828", "#8e8e8e", "#8e8e8e"},
        {"readable as is", {{0, 0, 0}, {200, 40, 40}, {255, 255, 255}, {90, 90, 90}}, "#000000", "#ffffff", "#c82828"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<Colour> palette;
        for (const RgbBytes bytes : row.palette)
            palette.push_back({bytes.red / 255.0, bytes.green / 255.0, bytes.blue / 255.0});
        const PaletteDocument document = paletteDocument(palette, Palette::Classic, {});
        EXPECT_EQ(document.background, row.background);
        EXPECT_EQ(document.foreground, row.foreground);
        EXPECT_EQ(document.accent, row.accent);
        const ScreenColours screen = screenColours(palette);
        EXPECT_GE(contrastRatio(screen.background, screen.foreground), kLeastContrast);
        // A grey one step nearer where it came from falls short.
        if (row.palette.size() == 1 && screen.foreground.red == screen.foreground.green) {
            const int nearer = screen.foreground.red + (screen.foreground.red < row.palette[0].red ? 1 : -1);
            const auto step = static_cast<std::uint8_t>(nearer);
            EXPECT_LT(contrastRatio(screen.background, {step, step, step}), kLeastContrast);
        }
    }
}

TEST(PaletteDocumentTest, JsonHoldsTheColoursInLampOrderAndTheTrackEscaped)
{
    CoverArrival cover{{}, "mpv", true};
    cover.track = {"Say \"Hi\"", "[Band]", "true"};
    PaletteDocument document = paletteDocument(std::vector<Colour>{{1, 0, 0}, {0, 0, 0}}, Palette::Vivid, cover);
    document.pinned = true;
    EXPECT_EQ(paletteJSON(document),
              R"({"colours": ["#ff0000", "#000000"], "background": "#ff0000", "foreground": "#000000", )"
              R"("accent": "#000000", "pinned": true, "track": {"source": "player", "title": "Say \"Hi\"", )"
              R"("artist": "[Band]", "album": "true"}})");
    EXPECT_EQ(paletteJSON(paletteDocument({}, Palette::Classic, {})),
              R"({"colours": [], "background": "#000000", "foreground": "#ffffff", "accent": "#ffffff", )"
              R"("pinned": false, "track": {"source": "notification", "title": "", "artist": "", "album": ""}})");
}

} // namespace
} // namespace glowcast
