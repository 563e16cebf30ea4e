#include "../../tools/bridge_sim/lamp_light.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace glowcast::sim {
namespace {

void expectNear(const std::array<std::uint8_t, 3>& actual, const std::array<int, 3>& expected)
{
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_LE(std::abs(actual[i] - expected[i]), 2) << "component " << i;
}

TEST(LampLightTest, TurnsChromaticityAndBrightnessBackIntoSrgb)
{
    expectNear(srgbFromXyBri(0.640, 0.330, 255), {255, 1, 0});       // the sRGB red primary
    expectNear(srgbFromXyBri(0.300, 0.600, 255), {0, 255, 0});       // the green primary
    expectNear(srgbFromXyBri(0.150, 0.060, 255), {0, 0, 255});       // the blue primary
    expectNear(srgbFromXyBri(0.3127, 0.3290, 255), {255, 255, 255}); // D65 white
    expectNear(srgbFromXyBri(0.3127, 0.3290, 128), {128, 128, 128});
    expectNear(srgbFromXyBri(0.640, 0.330, 0), {0, 0, 0});
}

TEST(LampLightTest, UnusablePointsShowAsWhiteAndBrightnessIsClamped)
{
    expectNear(srgbFromXyBri(0.5, 0.0, 255), {255, 255, 255});
    expectNear(srgbFromXyBri(std::numeric_limits<double>::quiet_NaN(), 0.3, 255), {255, 255, 255});
    expectNear(srgbFromXyBri(0.3127, 0.3290, 999), {255, 255, 255});
    expectNear(srgbFromXyBri(0.3127, 0.3290, -4), {0, 0, 0});
    EXPECT_EQ(hexColour({255, 0, 16}), "#ff0010");
}

} // namespace
} // namespace glowcast::sim
