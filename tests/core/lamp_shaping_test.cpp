#include "core/bridge/bridge_body.h"
#include "core/json/json_codec.h"
#include "core/lamp_care/lamp_shaping.h"
#include "support/fake_lamp_bridge.h"
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
const LampTarget k5000K{80, Chromaticity{0.3451, 0.3516}};
const LampCapabilities kWhiteFrom250{LampKind::ExtendedColour, {}, MiredRange{250, 500}};

TEST(LampShapingTest, EachKindOfLampIsSentWhatItCanShow)
{
    // Each row: what it shows, what the palette asks, the lamp, the settings and the state sent.
    const std::tuple<const char*, LampTarget, LampCapabilities, LampCareSettings, LampState> rows[] = {
        {"colour as given", kGreenish, kColour, {}, {false, 120, kGreenishXy, {}, {}}},
        {"unknown kind as colour", kGreenish, {}, {}, {false, 120, kGreenishXy, {}, {}}},
        {"into the gamut, on, fading", kOutside, kInHalfSquare, kGentle, {true, 120, {{0.5, 0.5}}, {}, 4}},
        {"outside the gamut, not fitted", kOutside, kInHalfSquare, {}, {false, 120, {{0.6, 0.6}}, {}, {}}},
        {"inside the gamut kept", kGreenish, kInHalfSquare, kFitted, {false, 120, kGreenishXy, {}, {}}},
        {"no colour: dimmest", kNoColour, kColour, {}, {false, 0, {}, {}, {}}},
        {"black: dimmest", kBlack, kDimmable, {}, {false, 0, {}, {}, {}}},
        {"no colour: neither on nor raised", kNoColour, kDimmable, kGentle, {false, 0, {}, {}, 4}},
        {"black raised", kBlack, kColour, kFloor, {false, 30, Chromaticity{0.3127, 0.329}, {}, {}}},
        {"minimum below the colour", kGreenish, kDimmable, kFloor, {false, 120, {}, {}, {}}},
        {"brightness capped", kTooBright, kDimmable, {}, {false, 255, {}, {}, {}}},
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
        {"near white as a temperature", kBlack, kColourAndWhite, kFitted, {false, 0, {}, 154, {}}},
        {"near white unfitted stays xy", kBlack, kColourAndWhite, {}, {false, 0, Chromaticity{0.3127, 0.329}, {}, {}}},
        {"red stays a colour", kRed, kColourAndWhite, kFitted, {false, 80, Chromaticity{0.7, 0.3}, {}, {}}},
        {"white past its range: colour", k5000K, kWhiteFrom250, kFitted, {false, 80, k5000K.chromaticity, {}, {}}},
        {"on/off switched", kGreenish, kOnOff, kGentle, {true, {}, {}, {}, {}}},
        {"on/off left", kGreenish, kOnOff, {}, LampState{}},
    };
    for (const auto& [what, target, lamp, settings, expected] : rows)
        EXPECT_EQ(shapedLampState(target, lamp, settings), expected) << what;
}

TEST(LampShapingTest, EachBridgeIsSentItsOwnBodyForTheShapedState)
{
    const LampTarget red{12, Chromaticity{0.64, 0.33}};
    const LampTarget blue{128, Chromaticity{0.15, 0.06}};
    const LampCapabilities gamutA{LampKind::Colour, gamutOfType("A"), {}};
    const LampCapabilities white{kWhites, {}, MiredRange{153, 500}};
    const LampCareSettings all =
        settingsOf({{"fade", 5}, {"switchOn", true}, {"minimumBrightness", 40}, {"fitLamp", true}});
    const auto at = [](double x, double y) { return LampTarget{9, Chromaticity{x, y}}; };
    // What the palette asks, the lamp, the settings, the first bridge's body and a further bridge's (null: the same).
    // clang-format off
    const std::tuple<LampTarget, LampCapabilities, LampCareSettings, const char*, const char*> rows[] = {
        {LampTarget{255, Chromaticity{0.64, 0.33}}, {}, {}, R"({"bri":255,"xy":[0.640,0.330]})", R"({"bri":254,"xy":[0.6400,0.3300]})"},
        {kNoColour, {}, {}, R"({"bri":0,"sat":0})", R"({"bri":1})"},
        {blue, {}, settingsOf({{"fade", 5}}), R"({"bri":128,"xy":[0.150,0.060],"transitiontime":5})", R"({"bri":128,"xy":[0.1500,0.0600],"transitiontime":5})"},
        {red, {}, settingsOf({{"switchOn", true}}), R"({"on":true,"bri":12,"xy":[0.640,0.330]})", R"({"on":true,"bri":12,"xy":[0.6400,0.3300]})"},
        {red, {}, settingsOf({{"minimumBrightness", 40}}), R"({"bri":40,"xy":[0.640,0.330]})", R"({"bri":40,"xy":[0.6400,0.3300]})"},
        {kNoColour, {}, all, R"({"bri":0,"sat":0,"transitiontime":5})", R"({"bri":1,"transitiontime":5})"},
        {blue, gamutA, kFitted, R"({"bri":128,"xy":[0.1418,0.0815]})", nullptr},
        {at(0.45, 0.54), gamutA, kFitted, R"({"bri":9,"xy":[0.4359,0.5234]})", nullptr}, // beyond the red-green side
        {at(0.75, 0.28), gamutA, kFitted, R"({"bri":9,"xy":[0.704,0.296]})", R"({"bri":9,"xy":[0.7040,0.2960]})"}, // to the red corner
        {kNoColour, gamutA, kFitted, R"({"bri":0,"sat":0})", R"({"bri":1})"},
        // 4000 K lies on the curve at (0.3805, 0.3767), 250 mired; a point off it is nearest in CIE 1960 u, v.
        {at(0.3805, 0.3767), white, kFitted, R"({"bri":9,"ct":250})", nullptr},
        {at(0.3127, 0.329), white, kFitted, R"({"bri":9,"ct":154})", nullptr}, // 6500 K, past 4000 K's change of formula
        {at(0.45, 0.38), white, kFitted, R"({"bri":9,"ct":387})", nullptr},
        {kNoColour, white, kFitted, R"({"bri":0})", R"({"bri":1})"},
        {red, kDimmable, all, R"({"on":true,"bri":40,"transitiontime":5})", nullptr},
        {red, kOnOff, settingsOf({{"fade", 5}, {"fitLamp", true}}), "{}", nullptr},
        {red, kOnOff, all, R"({"on":true})", nullptr},
    };
    // clang-format on
    for (const auto& [target, lamp, settings, first, further] : rows) {
        const LampState state = shapedLampState(target, lamp, settings);
        EXPECT_EQ(JSONFromDictionary(firstBridgeStateFields(state, lamp.kind)), first) << describe(state);
        EXPECT_EQ(JSONFromDictionary(bridgeStateFields(state)), further != nullptr ? further : first) << first;
    }
}

} // namespace
} // namespace glowcast
