#include "core/lamp_systems/home_assistant_light.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace glowcast {
namespace {

const LampCapabilities kColour{LampKind::ExtendedColour, std::nullopt, std::nullopt};
const LampCapabilities kColourAndWhite{LampKind::ExtendedColour, std::nullopt, MiredRange{154, 500}};

TEST(HomeAssistantLightTest, EachColourModeMakesItsKindOfLamp)
{
    const std::tuple<std::vector<std::string>, std::optional<int>, std::optional<int>, LampCapabilities> rows[] = {
        {{"hs", "color_temp"}, 2000, 6535, kColourAndWhite},
        {{"rgbww"}, {}, {}, kColour},
        {{"xy"}, 2000, 6535, kColour},
        {{"color_temp", "white"}, {}, {}, {LampKind::ColourTemperature, {}, MiredRange{153, 500}}},
        {{"color_temp"}, 6535, 2000, {LampKind::ColourTemperature, {}, MiredRange{153, 500}}},
        {{"color_temp"}, 1000, 25'000, {LampKind::ColourTemperature, {}, MiredRange{40, 1000}}},
        {{"color_temp"}, 4000, 4000, {LampKind::ColourTemperature, {}, MiredRange{250, 250}}},
        {{"color_temp"}, 1000, 25'001, {LampKind::ColourTemperature, {}, MiredRange{153, 500}}},
        {{"white"}, {}, {}, {LampKind::Dimmable, {}, {}}},
        {{"brightness"}, {}, {}, {LampKind::Dimmable, {}, {}}},
        {{"onoff"}, {}, {}, {LampKind::OnOff, {}, {}}},
    };
    for (const auto& [modes, minKelvin, maxKelvin, expected] : rows)
        EXPECT_EQ(homeAssistantCapabilities(modes, minKelvin, maxKelvin), expected) << ::testing::PrintToString(modes);
}

// Each row: the state, the lamp and what its call carries after its entity id.
TEST(HomeAssistantLightTest, TurnOnCarriesWhatTheLampsModesTake)
{
    const Chromaticity red{0.675, 0.322};
    const Chromaticity d65{0.3127, 0.329};
    const std::tuple<LampState, LampCapabilities, std::string> rows[] = {
        {{true, 254, red, {}, 4}, kColour, R"("xy_color":[0.6750,0.3220],"brightness":255,"transition":0.4)"},
        {{false, 200, {}, 154, 0}, kColourAndWhite, R"("color_temp_kelvin":6494,"brightness":201,"transition":0.0)"},
        {{false, 200, d65, {}, {}}, kColour, R"("xy_color":[0.3127,0.3290],"brightness":201)"},
        {{false, 127, {}, 370, {}},
         {LampKind::ColourTemperature, {}, MiredRange{154, 500}},
         R"("color_temp_kelvin":2703,"brightness":128)"},
        {{false, 1, {}, {}, {}}, {LampKind::Dimmable, {}, {}}, R"("brightness":1)"}, // dimmest is 1, never 0
        {{true, 100, {}, {}, 4}, {LampKind::OnOff, {}, {}}, ""},                     // nothing but on
    };
    for (const auto& [state, lamp, data] : rows) {
        const std::string call = R"({"entity_id":"light.desk")" + (data.empty() ? "" : "," + data) + "}";
        EXPECT_EQ(homeAssistantTurnOn("light.desk", state, lamp), (HomeAssistantCall{"turn_on", call}));
    }
}

TEST(HomeAssistantLightTest, ReadStateAndRestoreFollowTheColourMode)
{
    const Chromaticity xy{0.3, 0.3};
    EXPECT_EQ(homeAssistantReadState(true, "color_temp", 255, xy, 2703),
              (ReadLampState{true, {false, 254, {}, 370, {}}}));
    EXPECT_EQ(homeAssistantReadState(true, "hs", 128, xy, 2703), (ReadLampState{true, {false, 127, xy, {}, {}}}));
    EXPECT_EQ(homeAssistantReadState(true, "brightness", 0, xy, {}), (ReadLampState{true, {false, 1, {}, {}, {}}}));
    EXPECT_EQ(homeAssistantReadState(false, "hs", 128, xy, {}), ReadLampState{});

    EXPECT_EQ(homeAssistantRestore("light.a", {false, {false, 200, xy, {}, {}}}),
              (HomeAssistantCall{"turn_off", R"({"entity_id":"light.a"})"}));
    EXPECT_EQ(homeAssistantRestore("light.a", {true, {false, 128, {}, 370, 4}}),
              (HomeAssistantCall{"turn_on", R"({"entity_id":"light.a","color_temp_kelvin":2703,"brightness":129})"}));
}

TEST(HomeAssistantLightTest, OnlyLightEntityIdsAreTaken)
{
    const std::pair<std::string, bool> rows[] = {
        {"light.desk_2", true},
        {"light.", false},
        {"switch.desk", false},
        {"light.Desk", false},
        {"light.a/b", false},
        {"light." + std::string(200, 'a'), true},
        {"light." + std::string(201, 'a'), false},
    };
    for (const auto& [id, taken] : rows)
        EXPECT_EQ(isHomeAssistantLightId(id), taken) << id;
}

} // namespace
} // namespace glowcast
