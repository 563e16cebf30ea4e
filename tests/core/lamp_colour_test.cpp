#include "core/bridge/bridge_body.h"
#include "core/colour/colour.h"
#include "core/palette/lamp_colour.h"
#include "support/recording_log.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

namespace glowcast {
namespace {

TEST(LampColourTest, DocumentedColoursGiveTheBodyOfTheBrightnessAndTheCorrectedChromaticityWhateverTheLocale)
{
    const std::string blue = "*** sending an adjusted blue colour";
    const std::string green = "*** sending an adjusted green colour";
    // The colour, its brightness, the chromaticity logged, the correction's extra line (empty when none),
    // and the chromaticity sent.
    const std::tuple<Colour, int, const char*, std::string, const char*> rows[] = {
        {{1, 0, 0}, 255, "[0.640,0.330]", "", "[0.640,0.330]"},
        {{1, 0.02, 0}, 255, "[0.639,0.331]", "", "[0.639,0.331]"}, // 0.02 is on the curve's straight part
        {{1, 0.5, 0}, 255, "[0.544,0.407]", "", "[0.544,0.407]"},
        {{1, 1, 0}, 255, "[0.419,0.505]", "", "[0.419,0.505]"},
        {{0, 1, 0}, 128, "[0.300,0.600]", green, "[0.410,0.510]"},
        {{0, 1, 1}, 128, "[0.225,0.329]", blue, "[0.198,0.101]"},
        {{0, 0, 1}, 128, "[0.150,0.060]", "", "[0.150,0.060]"},
        {{1, 0, 1}, 255, "[0.321,0.154]", "", "[0.321,0.154]"},
        {{1, 1, 1}, 255, "[0.313,0.329]", "", "[0.313,0.329]"},
        {{0.5, 0.5, 0.5}, 127, "[0.313,0.329]", "", "[0.313,0.329]"},
        // Black has no chromaticity of its own: it gets the white point, like every grey.
        {{0, 0, 0}, 0, "[0.313,0.329]", "", "[0.313,0.329]"},
    };
    // The C library's number formatting follows LC_NUMERIC; the bridge always wants a point.
    const char* previous = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    for (const auto& [colour, bri, logged, correction, sent] : rows) {
        SCOPED_TRACE(::testing::Message() << colour.red << ", " << colour.green << ", " << colour.blue);
        RecordingLog log;
        // The corrected chromaticity goes out, not the one logged.
        EXPECT_EQ(firstBridgeBody(lampTargetOf(colour, log)), (Dictionary{{"bri", bri}, {"xy", sent}}));
        std::vector<std::string> lines{"xyValue returning " + std::string(logged)};
        if (!correction.empty())
            lines.push_back(correction);
        EXPECT_EQ(log.lines, lines);
    }
    if (previous != nullptr)
        std::setlocale(LC_NUMERIC, "C");
}

TEST(LampColourTest, BrightnessScaleChangesOnlyStrictlyInsideTheGreenToBlueHues)
{
    // (0.5, 0, 1) has a hue of exactly 0.75. No colour has a hue of exactly 0.2 in double; (0.8, 1, 0)
    // and (0.7999999999999999, 1, 0) lie either side of it by one step.
    EXPECT_EQ(briValueOf(Colour{0.5, 0, 1}), 255);
    EXPECT_EQ(briValueOf(Colour{0.49, 0, 1}), 128);
    EXPECT_EQ(briValueOf(Colour{0.8, 1, 0}), 255);
    EXPECT_EQ(briValueOf(Colour{0.7999999999999999, 1, 0}), 128);
    // Truncated, never rounded up.
    EXPECT_EQ(briValueOf(Colour{0.999, 0, 0}), 254);
    EXPECT_EQ(briValueOf(Colour{0, 0.999, 0}), 127);
}

TEST(ColourTest, HueSaturationAndBrightnessOfTheDeviceRgbColour)
{
    // The colour, its hue, saturation and brightness.
    const std::tuple<Colour, double, double, double> rows[] = {
        {{1, 0, 0}, 0.0, 1.0, 1.0},
        {{1, 1, 0}, 1.0 / 6, 1.0, 1.0},
        {{0, 1, 0}, 1.0 / 3, 1.0, 1.0},
        {{0, 1, 1}, 0.5, 1.0, 1.0},
        {{0.25, 0.5, 1}, 11.0 / 18, 0.75, 1.0},
        {{0, 0, 1}, 2.0 / 3, 1.0, 1.0},
        {{1, 0, 1}, 5.0 / 6, 1.0, 1.0},
        {{0.625, 0, 0.125}, 29.0 / 30, 1.0, 0.625},
        {{0.8, 0.3, 0.1}, 1.0 / 21, 0.875, 0.8},
        {{0.5, 1, 0.25}, 5.0 / 18, 0.75, 1.0},
        // Greys, black among them, have the hue of red.
        {{0.5, 0.5, 0.5}, 0.0, 0.0, 0.5},
        {{0, 0, 0}, 0.0, 0.0, 0.0},
    };
    for (const auto& [colour, hue, saturation, brightness] : rows) {
        SCOPED_TRACE(::testing::Message() << colour.red << ", " << colour.green << ", " << colour.blue);
        EXPECT_DOUBLE_EQ(colour.hueComponent(), hue);
        EXPECT_DOUBLE_EQ(colour.saturationComponent(), saturation);
        EXPECT_DOUBLE_EQ(colour.brightnessComponent(), brightness);
    }
    // A red with the faintest blue in it lies just under the top of the circle, never on it.
    EXPECT_LT(Colour({1.0, 0.0, 1e-17}).hueComponent(), 1.0);
}

// Each row: a lamp state and the swatch's bytes, worked out from sRGB's matrix and transfer curve
// (brightness 127 is half the light: 0.5 encodes as 188).
} // namespace
} // namespace glowcast
