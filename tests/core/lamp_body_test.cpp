#include "core/json_codec.h"
#include "core/lamp_care/bridge_fields.h"
#include "core/lamp_care/lamp_body.h"
#include "support/fake_lamp_bridge.h"

#include <gtest/gtest.h>

namespace glowcast {
namespace {

TEST(BridgeFieldsTest, ReadsListTextsExactlyOrNotAtAll)
{
    EXPECT_EQ(chromaticityFrom(" [ 0.3127 , 1 ] "), (Chromaticity{0.3127, 1.0}));
    for (const char* bad : {"", "[0.1,0.2", "[0.1,0.2]x", "[1.5,0.2]", "[-0.1,0.2]", "[nan,0.2]", "[0.1,0.2,0.3]"})
        EXPECT_EQ(chromaticityFrom(bad), std::nullopt) << bad;
    EXPECT_EQ(chromaticityFrom("[0.1," + std::string(300, ' ') + "0.2]"), std::nullopt);
    EXPECT_EQ(gamutFrom("[[0.6915,0.3083],[0.17,0.7],[0.1532,0.0475]]"), gamutOfType("C"));
    for (const char* bad : {"[[0.6915,0.3083]", "[[0.1,0.1],[0.1,0.1],[0.2,0.2]]", "[[0.7,0.3],[0.2,0.7]]"})
        EXPECT_EQ(gamutFrom(bad), std::nullopt) << bad;
}

TEST(LampCapabilitiesTest, ReadsKindGamutAndRangeFromTheDecodedLampRecord)
{
    using enum LampKind;
    // The lamp's "type", its "capabilities" / "control", what is read, and whether a line is logged.
    const std::tuple<const char*, const char*, LampCapabilities, bool> rows[] = {
        {"Extended color light",
         R"({"colorgamuttype":"C","colorgamut":[[0.6915,0.3083],[0.17,0.7],[0.1532,0.0475]],"ct":{"min":153,"max":500}})",
         {ExtendedColour, gamutOfType("C"), {}},
         false},
        {"Color light", R"({"colorgamuttype":"A"})", {Colour, gamutOfType("A"), {}}, false},
        {"Color light", R"({"colorgamuttype":"other"})", {Colour, {}, {}}, true},
        {"color temperature light",
         R"({"ct":{"min":153,"max":454}})",
         {ColourTemperature, {}, MiredRange{153, 454}},
         false},
        {"Color temperature light", R"({"ct":{"min":500,"max":153}})", {ColourTemperature, {}, {}}, true},
        {"Dimmable light", "{}", {Dimmable, {}, {}}, false},
        {"On/Off plug-in unit", "{}", {OnOff, {}, {}}, false},
        {"Lava lamp", "{}", {}, true},
    };
    for (const auto& [type, control, expected, logs] : rows) {
        RecordingLog log;
        const Dictionary record = dictionaryFromJSON(
            R"({"type":")" + std::string{type} + R"(","capabilities":{"control":)" + control + "}}", log);
        log.lines.clear();
        EXPECT_EQ(lampCapabilitiesFrom("7", record, log), expected) << type << control;
        EXPECT_EQ(log.lines.size(), logs ? 1u : 0u) << type << control;
    }
}

TEST(LampBodyTest, ShapesTodaysBodiesForTheLampAndTheSettings)
{
    const Dictionary blue{{"bri", 128.0}, {"xy", "[0.150,0.060]"}};
    const Dictionary red{{"bri", 12.0}, {"xy", "[0.640,0.330]"}};
    const Dictionary zero{{"bri", 0.0}, {"sat", 0.0}};
    const Dictionary k4000{{"bri", 9.0}, {"xy", "[0.3805,0.3767]"}};
    const Dictionary belowTheCurve{{"bri", 9.0}, {"xy", "[0.4500,0.3800]"}};
    const LampCapabilities unknown;
    const LampCapabilities gamutA{LampKind::Colour, gamutOfType("A"), {}};
    const LampCapabilities white{LampKind::ColourTemperature, {}, MiredRange{153, 500}};
    const LampCapabilities dimmable{LampKind::Dimmable, {}, {}};
    const LampCapabilities plug{LampKind::OnOff, {}, {}};
    const LampCareSettings fit = settingsOf({{"fitLamp", true}});
    // Today's body, the lamp, the settings, and what is sent (empty when nothing is).
    const std::tuple<const Dictionary&, const LampCapabilities&, LampCareSettings, const char*> rows[] = {
        {blue, unknown, settingsOf({{"fade", 5}}), R"({"bri":128,"xy":[0.150,0.060],"transitiontime":5})"},
        {red, unknown, settingsOf({{"switchOn", true}}), R"({"on":true,"bri":12,"xy":[0.640,0.330]})"},
        {zero, unknown, settingsOf({{"switchOn", true}}), R"({"bri":0,"sat":0})"},
        {red, unknown, settingsOf({{"minimumBrightness", 40}}), R"({"bri":40,"xy":[0.640,0.330]})"},
        {zero, unknown, settingsOf({{"minimumBrightness", 40}}), R"({"bri":0,"sat":0})"},
        {blue, gamutA, fit, R"({"bri":128,"xy":[0.1418,0.0815]})"},
        {red, gamutA, fit, R"({"bri":12,"xy":[0.640,0.330]})"},
        // The nearest white: 4000 K lies on the curve at (0.3805, 0.3767), 250 mired; a point off it is
        // nearest in CIE 1960 u, v; colours far off the curve take the nearer end of the lamp's range.
        {k4000, white, fit, R"({"bri":9,"ct":250})"},
        {belowTheCurve, white, fit, R"({"bri":9,"ct":387})"},
        {red, white, fit, R"({"bri":12,"ct":500})"},
        {blue, white, fit, R"({"bri":128,"ct":153})"},
        {zero, white, fit, R"({"bri":0})"},
        {red, dimmable, settingsOf({{"fade", 5}, {"switchOn", true}, {"fitLamp", true}}),
         R"({"on":true,"bri":12,"transitiontime":5})"},
        {red, plug, settingsOf({{"fade", 5}, {"fitLamp", true}}), ""},
        {red, plug, settingsOf({{"fade", 5}, {"switchOn", true}, {"fitLamp", true}}), R"({"on":true})"},
    };
    for (const auto& [body, lamp, settings, sent] : rows) {
        const Dictionary shaped = shapedLampBody(body, lamp, settings);
        EXPECT_EQ(shaped.empty() ? "" : JSONFromDictionary(shaped), sent) << describe(body) << " " << sent;
    }
}

} // namespace
} // namespace glowcast
