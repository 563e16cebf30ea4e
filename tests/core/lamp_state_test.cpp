#include "core/lamp_care/lamp_state.h"
#include "support/fake_lamp_systems.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace glowcast {

namespace {

const Dictionary kGreenish{{"bri", 120.0}, {"xy", "[0.3000,0.4000]"}};
const Dictionary kRed{{"bri", 80.0}, {"xy", "[0.7000,0.3000]"}};
const Dictionary kBlue{{"bri", 80.0}, {"xy", "[0.1500,0.0600]"}};
const Dictionary kOutside{{"bri", 120.0}, {"xy", "[0.6000,0.6000]"}};
const Dictionary kBlack{{"bri", 0.0}, {"xy", "[0.3127,0.3290]"}};
const Dictionary kZero{{"bri", 0.0}, {"sat", 0.0}};
const Dictionary kTooBright{{"bri", 300.0}, {"xy", "[0.3000,0.4000]"}};
const Gamut kHalfSquare{{{{0.0, 0.0}, {1.0, 0.0}, {0.0, 1.0}}}};

TEST(LampStateTest, EachKindOfLampIsSentWhatItCanShow)
{
    struct Row {
        const char* name;
        Dictionary body;
        LampCapabilities lamp;
        LampCareSettings settings;
        LampState expected;
    };
    LampCareSettings gentle;
    gentle.switchOn = true;
    gentle.fade = 4;
    LampCareSettings floor;
    floor.minimumBrightness = 30;
    const std::vector<Row> rows{
        {"colour as given", kGreenish, {LampKind::Colour, {}, {}}, {}, {false, 120, Chromaticity{0.3, 0.4}, {}, {}}},
        {"unknown kind as colour", kGreenish, {}, {}, {false, 120, Chromaticity{0.3, 0.4}, {}, {}}},
        {"into the gamut, on, fading",
         kOutside,
         {LampKind::ExtendedColour, kHalfSquare, {}},
         gentle,
         {true, 120, Chromaticity{0.5, 0.5}, {}, 4}},
        {"inside the gamut kept",
         kGreenish,
         {LampKind::Colour, kHalfSquare, {}},
         {},
         {false, 120, Chromaticity{0.3, 0.4}, {}, {}}},
        {"zero body: dimmest", kZero, {LampKind::Colour, {}, {}}, {}, {false, 1, {}, {}, {}}},
        {"black: dimmest", kBlack, {LampKind::Dimmable, {}, {}}, {}, {false, 1, {}, {}, {}}},
        {"black raised", kBlack, {LampKind::Colour, {}, {}}, floor, {false, 30, Chromaticity{0.3127, 0.329}, {}, {}}},
        {"minimum below the colour", kGreenish, {LampKind::Dimmable, {}, {}}, floor, {false, 120, {}, {}, {}}},
        {"brightness capped", kTooBright, {LampKind::Dimmable, {}, {}}, {}, {false, 254, {}, {}, {}}},
        {"warm end of the range",
         kRed,
         {LampKind::ColourTemperature, {}, MiredRange{200, 400}},
         {},
         {false, 80, {}, 400, {}}},
        {"cold end, usual range", kBlue, {LampKind::ColourTemperature, {}, {}}, {}, {false, 80, {}, 153, {}}},
        {"unusable range: usual",
         kBlue,
         {LampKind::ColourTemperature, {}, MiredRange{400, 200}},
         {},
         {false, 80, {}, 153, {}}},
        {"on/off switched", kGreenish, {LampKind::OnOff, {}, {}}, gentle, {true, {}, {}, {}, {}}},
        {"on/off left", kGreenish, {LampKind::OnOff, {}, {}}, {}, LampState{}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(lampStateFor(row.body, row.lamp, row.settings), row.expected) << row.name;
}

} // namespace
} // namespace glowcast
