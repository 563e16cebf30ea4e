#include "core/lamp_care/lamp_state.h"
#include "support/fake_lamp_systems.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>

namespace glowcast {

namespace {

const Dictionary kGreenish{{"bri", 120.0}, {"xy", "[0.3000,0.4000]"}};
const Dictionary kRed{{"bri", 80.0}, {"xy", "[0.7000,0.3000]"}};
const Dictionary kBlue{{"bri", 80.0}, {"xy", "[0.1500,0.0600]"}};
const Dictionary kOutside{{"bri", 120.0}, {"xy", "[0.6000,0.6000]"}};
const Dictionary kBlack{{"bri", 0.0}, {"xy", "[0.3127,0.3290]"}};
const Dictionary kZero{{"bri", 0.0}, {"sat", 0.0}};
const Dictionary kTooBright{{"bri", 300.0}, {"xy", "[0.3000,0.4000]"}};
const LampCapabilities kColour{LampKind::Colour, {}, {}};
const LampCapabilities kDimmable{LampKind::Dimmable, {}, {}};
const LampCapabilities kOnOff{LampKind::OnOff, {}, {}};
const LampCareSettings kGentle{4, true, {}, false, {}, false, {}};
const LampCareSettings kFloor{{}, false, 30, false, {}, false, {}};
const LampCapabilities kInHalfSquare{LampKind::ExtendedColour, Gamut{{{{0.0, 0.0}, {1.0, 0.0}, {0.0, 1.0}}}}, {}};
const Chromaticity kGreenishXy{0.3, 0.4};
const LampKind kWhites = LampKind::ColourTemperature;

TEST(LampStateTest, EachKindOfLampIsSentWhatItCanShow)
{
    // Each row: what it shows, the body, the lamp, the settings and the state sent.
    const std::tuple<const char*, Dictionary, LampCapabilities, LampCareSettings, LampState> rows[] = {
        {"colour as given", kGreenish, kColour, {}, {false, 120, kGreenishXy, {}, {}}},
        {"unknown kind as colour", kGreenish, {}, {}, {false, 120, kGreenishXy, {}, {}}},
        {"into the gamut, on, fading", kOutside, kInHalfSquare, kGentle, {true, 120, {{0.5, 0.5}}, {}, 4}},
        {"inside the gamut kept", kGreenish, kInHalfSquare, {}, {false, 120, kGreenishXy, {}, {}}},
        {"zero body: dimmest", kZero, kColour, {}, {false, 1, {}, {}, {}}},
        {"black: dimmest", kBlack, kDimmable, {}, {false, 1, {}, {}, {}}},
        {"black raised", kBlack, kColour, kFloor, {false, 30, Chromaticity{0.3127, 0.329}, {}, {}}},
        {"minimum below the colour", kGreenish, kDimmable, kFloor, {false, 120, {}, {}, {}}},
        {"brightness capped", kTooBright, kDimmable, {}, {false, 254, {}, {}, {}}},
        {"warm end of the range", kRed, {kWhites, {}, MiredRange{200, 400}}, {}, {false, 80, {}, 400, {}}},
        {"cold end, usual range", kBlue, {kWhites, {}, {}}, {}, {false, 80, {}, 153, {}}},
        {"a range of one", kRed, {kWhites, {}, MiredRange{300, 300}}, {}, {false, 80, {}, 300, {}}},
        {"warm end, usual range", kRed, {kWhites, {}, {}}, {}, {false, 80, {}, 500, {}}},
        {"cold end, 1 to 40 mired all 25000 K", kBlue, {kWhites, {}, MiredRange{1, 400}}, {}, {false, 80, {}, 1, {}}},
        {"unusable range: usual", kBlue, {kWhites, {}, MiredRange{400, 200}}, {}, {false, 80, {}, 153, {}}},
        {"on/off switched", kGreenish, kOnOff, kGentle, {true, {}, {}, {}, {}}},
        {"on/off left", kGreenish, kOnOff, {}, LampState{}},
    };
    for (const auto& [what, body, lamp, settings, expected] : rows)
        EXPECT_EQ(lampStateFor(body, lamp, settings), expected) << what;
}

} // namespace
} // namespace glowcast
