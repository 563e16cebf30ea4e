#include "../../tools/bridge_sim/lamp_light.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace glowcast::sim {
namespace {

TEST(LampLightTest, TurnsChromaticityAndBrightnessBackIntoSrgb)
{
    struct Row {
        double x, y;
        int bri;
        std::array<int, 3> rgb;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Row rows[] = {
        {0.640, 0.330, 255, {255, 1, 0}},       {0.300, 0.600, 255, {0, 255, 0}},       // the red and green primaries
        {0.150, 0.060, 255, {0, 0, 255}},       {0.3127, 0.3290, 255, {255, 255, 255}}, // blue, D65 white
        {0.3127, 0.3290, 128, {128, 128, 128}}, {0.640, 0.330, 0, {0, 0, 0}},
        {0.5, 0.0, 255, {255, 255, 255}},       {nan, 0.3, 255, {255, 255, 255}}, // unusable points show white
        {0.3127, 0.3290, 999, {255, 255, 255}}, {0.3127, 0.3290, -4, {0, 0, 0}},  // brightness clamped
    };
    for (const Row& row : rows) {
        const auto rgb = srgbFromXyBri(row.x, row.y, row.bri);
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_LE(std::abs(rgb[i] - row.rgb[i]), 2)
                << row.x << "," << row.y << "," << row.bri << " component " << i;
    }
    EXPECT_EQ(hexColour({255, 0, 16}), "#ff0010");
}

} // namespace
} // namespace glowcast::sim
