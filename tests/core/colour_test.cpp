#include "core/colour.h"

#include <gtest/gtest.h>

namespace glowcast {
namespace {

TEST(ColourTest, BrightnessIsTheLargestComponentAndSaturationItsSpread)
{
    const Colour orange{0.8, 0.3, 0.1};
    EXPECT_DOUBLE_EQ(orange.brightnessComponent(), 0.8);
    EXPECT_DOUBLE_EQ(orange.saturationComponent(), 0.875);
    EXPECT_DOUBLE_EQ(Colour({0.5, 0.5, 0.5}).saturationComponent(), 0.0);
    EXPECT_DOUBLE_EQ(Colour({0.0, 0.0, 0.0}).saturationComponent(), 0.0);
    EXPECT_DOUBLE_EQ(Colour({0.0, 0.0, 0.0}).brightnessComponent(), 0.0);
    EXPECT_DOUBLE_EQ(Colour({0.2, 0.0, 0.1}).saturationComponent(), 1.0);
}

TEST(ColourTest, HueRunsRedYellowGreenCyanBlueMagentaAndGreysAreRed)
{
    EXPECT_DOUBLE_EQ(Colour({1, 0, 0}).hueComponent(), 0.0);
    EXPECT_DOUBLE_EQ(Colour({1, 0.5, 0}).hueComponent(), 1.0 / 12);
    EXPECT_DOUBLE_EQ(Colour({1, 1, 0}).hueComponent(), 1.0 / 6);
    EXPECT_DOUBLE_EQ(Colour({0, 1, 0}).hueComponent(), 1.0 / 3);
    EXPECT_DOUBLE_EQ(Colour({0, 1, 1}).hueComponent(), 0.5);
    EXPECT_DOUBLE_EQ(Colour({0.25, 0.5, 1}).hueComponent(), 11.0 / 18);
    EXPECT_DOUBLE_EQ(Colour({0, 0, 1}).hueComponent(), 2.0 / 3);
    EXPECT_DOUBLE_EQ(Colour({1, 0, 1}).hueComponent(), 5.0 / 6);
    EXPECT_DOUBLE_EQ(Colour({0.625, 0, 0.125}).hueComponent(), 29.0 / 30);
    EXPECT_DOUBLE_EQ(Colour({0.5, 0.5, 0.5}).hueComponent(), 0.0);
    EXPECT_DOUBLE_EQ(Colour({0, 0, 0}).hueComponent(), 0.0);
}

TEST(ColourTest, HueStaysBelowAFullTurn)
{
    // A red with the faintest blue in it lies just under the top of the circle, never on it.
    const double hue = Colour({1.0, 0.0, 1e-17}).hueComponent();
    EXPECT_GE(hue, 0.0);
    EXPECT_LT(hue, 1.0);
}

} // namespace
} // namespace glowcast
