#include "core/lamp_systems/shown_colour.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

namespace glowcast {
namespace {

// Each row: a lamp state and the swatch's bytes, worked out from sRGB's matrix and transfer curve
// (brightness 127 is half the light: 0.5 encodes as 188).
TEST(ShownColourTest, ASwatchShowsTheStatesChromaticityDimmedByItsBrightness)
{
    const std::pair<LampState, std::array<int, 3>> rows[] = {
        {{false, 254, Chromaticity{0.64, 0.33}, {}, {}}, {255, 0, 0}},
        {{false, 254, Chromaticity{0.30, 0.60}, {}, {}}, {0, 255, 0}},
        {{true, {}, Chromaticity{0.15, 0.06}, {}, 4}, {0, 0, 255}},
        {{false, 254, Chromaticity{0.70, 0.30}, {}, {}}, {255, 0, 0}}, // beyond sRGB's red
        {{false, 127, Chromaticity{0.64, 0.33}, {}, {}}, {188, 0, 0}},
        {{false, 127, {}, {}, {}}, {188, 188, 188}},
        {{false, 1, {}, {}, {}}, {13, 13, 13}},
        {{false, {}, {}, {}, {}}, {255, 255, 255}},
        {{false, 254, {}, 153, {}}, {255, 249, 255}}, // 6536 K, on the curve a little below sRGB's white
        {{false, 254, {}, 500, {}}, {255, 139, 22}},  // 2000 K
    };
    for (const auto& [state, bytes] : rows) {
        const Colour shown = shownColour(state);
        const std::array<int, 3> got{static_cast<int>(std::lround(shown.red * 255)),
                                     static_cast<int>(std::lround(shown.green * 255)),
                                     static_cast<int>(std::lround(shown.blue * 255))};
        for (std::size_t k = 0; k < 3; ++k)
            EXPECT_NEAR(got[k], bytes[k], 1) << "component " << k << " of " << state.brightness.value_or(0);
    }
}

} // namespace
} // namespace glowcast
