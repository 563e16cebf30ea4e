#include "core/colour.h"

#include <gtest/gtest.h>

namespace glowcast {
namespace {

TEST(ColourTest, HueSaturationAndBrightnessOfTheDeviceRgbColour)
{
    struct Row {
        Colour colour;
        double hue, saturation, brightness;
    };
    const Row rows[] = {
        {{1, 0, 0}, 0.0, 1.0, 1.0},
        {{1, 0.5, 0}, 1.0 / 12, 1.0, 1.0},
        {{1, 1, 0}, 1.0 / 6, 1.0, 1.0},
        {{0, 1, 0}, 1.0 / 3, 1.0, 1.0},
        {{0, 1, 1}, 0.5, 1.0, 1.0},
        {{0.25, 0.5, 1}, 11.0 / 18, 0.75, 1.0},
        {{0, 0, 1}, 2.0 / 3, 1.0, 1.0},
        {{1, 0, 1}, 5.0 / 6, 1.0, 1.0},
        {{0.625, 0, 0.125}, 29.0 / 30, 1.0, 0.625},
        {{0.8, 0.3, 0.1}, 1.0 / 21, 0.875, 0.8},
        {{0.2, 0.0, 0.1}, 11.0 / 12, 1.0, 0.2},
        // Greys, black among them, have the hue of red.
        {{0.5, 0.5, 0.5}, 0.0, 0.0, 0.5},
        {{0, 0, 0}, 0.0, 0.0, 0.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.colour.red << ", " << row.colour.green << ", " << row.colour.blue);
        EXPECT_DOUBLE_EQ(row.colour.hueComponent(), row.hue);
        EXPECT_DOUBLE_EQ(row.colour.saturationComponent(), row.saturation);
        EXPECT_DOUBLE_EQ(row.colour.brightnessComponent(), row.brightness);
    }
    // A red with the faintest blue in it lies just under the top of the circle, never on it.
    EXPECT_LT(Colour({1.0, 0.0, 1e-17}).hueComponent(), 1.0);
}

} // namespace
} // namespace glowcast
