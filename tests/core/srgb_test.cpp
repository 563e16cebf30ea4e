#include "core/colour/srgb.h"

#include <gtest/gtest.h>

#include <limits>

namespace glowcast {
namespace {

// Each row: a chromaticity and the bytes a strip is sent for it at full value, worked out by hand from
// the sRGB matrix and transfer curve (the corners give pure primaries; points outside move first).
TEST(SrgbTest, GivesEachChromaticityAtFullValueMovingPointsOutsideTheTriangleToTheirNearest)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::pair<Chromaticity, RgbBytes> rows[] = {
        {{0.3127, 0.3290}, {255, 255, 255}}, // D65 white
        {{0.64, 0.33}, {255, 0, 0}},         {{0.30, 0.60}, {0, 255, 0}},
        {{0.15, 0.06}, {0, 0, 255}},         {{0.47, 0.465}, {255, 194, 0}}, // halfway along the red-green edge
        {{0.45, 0.41}, {255, 178, 96}},                                      // a warm white inside
        {{0.70, 0.30}, {255, 0, 0}},                                         // beyond red: its corner
        {{0.20, 0.80}, {0, 255, 0}},                                         // beyond green: its corner
        {{0.10, 0.40}, {0, 255, 228}}, // beyond the green-blue edge: its foot there, (0.2341, 0.3628)
        {{0.17, 0.005}, {0, 0, 255}},  // below blue, where y nears 0
        {{0.0, 0.0}, {0, 0, 255}},           {{nan, 0.3}, {255, 255, 255}},
    };
    for (const auto& [point, expected] : rows) {
        SCOPED_TRACE(testing::Message() << point.x << ", " << point.y);
        EXPECT_EQ(rgbBytesAtFullValue(point), expected);
    }
}

} // namespace
} // namespace glowcast
