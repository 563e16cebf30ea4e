#include "core/lamps/lamp_shaping.h"
#include "support/fake_lamp_systems.h"

#include <gtest/gtest.h>

#include <tuple>

namespace glowcast {

namespace {

const LampTarget kGreenish{120, Chromaticity{0.3, 0.4}};
const LampTarget kRed{80, Chromaticity{0.7, 0.3}};
const LampTarget kBlue{80, Chromaticity{0.15, 0.06}};
const LampTarget kOutside{120, Chromaticity{0.6, 0.6}};
const LampTarget kBlack{0, Chromaticity{0.3127, 0.329}};
const LampTarget kNoColour{};
const LampTarget kTooBright{300, Chromaticity{0.3, 0.4}};
const LampCapabilities kColour{LampKind::Colour, {}, {}};
const LampCapabilities kDimmable{LampKind::Dimmable, {}, {}};
const LampCapabilities kOnOff{LampKind::OnOff, {}, {}};
const LampCapabilities kColourAndWhite{LampKind::ExtendedColour, {}, MiredRange{154, 500}};
const LampCareSettings kGentle{4, true, {}, true, {}, false, {}};
const LampCareSettings kFloor{{}, false, 30, false, {}, false, {}};
const LampCareSettings kFitted{{}, false, {}, true, {}, false, {}};
const LampCapabilities kInHalfSquare{LampKind::ExtendedColour, Gamut{{{{0.0, 0.0}, {1.0, 0.0}, {0.0, 1.0}}}}, {}};
const Chromaticity kGreenishXy{0.3, 0.4};
const LampKind kWhites = LampKind::ColourTemperature;

TEST(LampShapingTest, EachKindOfLampIsSentWhatItCanShow)
{
    // Each row: what it shows, what the palette asks, the lamp, the settings and the state sent.
    const std::tuple<const char*, LampTarget, LampCapabilities, LampCareSettings, LampState> rows[] = {
        {"colour as given", kGreenish, kColour, {}, {false, 120, kGreenishXy, {}, {}}},
        {"unknown kind as colour", kGreenish, {}, {}, {false, 120, kGreenishXy, {}, {}}},
        {"into the gamut, on, fading", kOutside, kInHalfSquare, kGentle, {true, 120, {{0.5, 0.5}}, {}, 4}},
        {"outside the gamut, not fitted", kOutside, kInHalfSquare, {}, {false, 120, {{0.6, 0.6}}, {}, {}}},
        {"inside the gamut kept", kGreenish, kInHalfSquare, kFitted, {false, 120, kGreenishXy, {}, {}}},
        {"no colour: dimmest", kNoColour, kColour, {}, {false, 1, {}, {}, {}}},
        {"black: dimmest", kBlack, kDimmable, {}, {false, 1, {}, {}, {}}},
        {"black raised", kBlack, kColour, kFloor, {false, 30, Chromaticity{0.3127, 0.329}, {}, {}}},
        {"minimum below the colour", kGreenish, kDimmable, kFloor, {false, 120, {}, {}, {}}},
        {"brightness capped", kTooBright, kDimmable, {}, {false, 254, {}, {}, {}}},
        {"warm end of the range", kRed, {kWhites, {}, MiredRange{200, 400}}, kFitted, {false, 80, {}, 400, {}}},
        {"range not fitted: usual", kRed, {kWhites, {}, MiredRange{200, 400}}, {}, {false, 80, {}, 500, {}}},
        {"cold end, usual range", kBlue, {kWhites, {}, {}}, kFitted, {false, 80, {}, 153, {}}},
        {"a range of one", kRed, {kWhites, {}, MiredRange{300, 300}}, kFitted, {false, 80, {}, 300, {}}},
        {"cold end, 1 to 40 mired all 25000 K",
         kBlue,
         {kWhites, {}, MiredRange{1, 400}},
         kFitted,
         {false, 80, {}, 1, {}}},
        {"unusable range: usual", kBlue, {kWhites, {}, MiredRange{400, 200}}, kFitted, {false, 80, {}, 153, {}}},
        {"near white as a temperature", kBlack, kColourAndWhite, kFitted, {false, 1, {}, 154, {}}},
        {"near white unfitted stays xy", kBlack, kColourAndWhite, {}, {false, 1, Chromaticity{0.3127, 0.329}, {}, {}}},
        {"red stays a colour", kRed, kColourAndWhite, kFitted, {false, 80, Chromaticity{0.7, 0.3}, {}, {}}},
        {"on/off switched", kGreenish, kOnOff, kGentle, {true, {}, {}, {}, {}}},
        {"on/off left", kGreenish, kOnOff, {}, LampState{}},
    };
    for (const auto& [what, target, lamp, settings, expected] : rows)
        EXPECT_EQ(shapedLampState(target, lamp, settings), expected) << what;
}

} // namespace
} // namespace glowcast
