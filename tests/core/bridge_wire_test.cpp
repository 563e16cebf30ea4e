#include "core/bridge/bridge_wire.h"
#include "support/recording_log.h"

#include <gtest/gtest.h>

#include <tuple>

namespace glowcast {
namespace {

// What each field of a state becomes in a further bridge's body is the encoder's (LampShapingTest); here, the
// body of a state and of a put-back, which is on and what the lamp showed or only off.
TEST(BridgeWireTest, StateBodiesCarryOnlyWhatTheStateHasInTheBridgesOrder)
{
    EXPECT_EQ(bridgeStateBody({false, 300, std::nullopt, std::nullopt, -2}), R"({"bri":254,"transitiontime":0})");
    EXPECT_EQ(bridgeRestoreBody({false, {false, 200, Chromaticity{0.3, 0.3}, {}, {}}}), R"({"on":false})");
    EXPECT_EQ(bridgeRestoreBody({true, {false, 200, {}, 250, {}}}), R"({"on":true,"bri":200,"ct":250})");
}

// Replies as a bridge gives them, and what is no such reply; each row, what each reader takes from it.
TEST(BridgeWireTest, ReadersTakeOnlyWhatTheReplySays)
{
    // Each row: the reply, its error type, bridge id and paired user name.
    const std::string user = "3a9f0c21d4b84e17a9d3f2c6b1e05d78";
    const std::string longest(64, 'A');
    const std::tuple<std::string, std::optional<int>, std::optional<std::string>, std::optional<std::string>> rows[] = {
        {R"([{"error":{"type":101,"address":"","description":"link button not pressed"}}])", 101, {}, {}},
        {R"([{"success":{"username":")" + user + R"("}}])", {}, {}, user},
        {R"([{"success":{"username":")" + std::string(128, 'u') + R"("}}])", {}, {}, std::string(128, 'u')},
        {R"([{"error":{"type":"soon"}}])", -1, {}, {}},
        {R"([{"error":{"type":100000}}])", -1, {}, {}},
        {R"([{"error":"unauthorized user"}])", -1, {}, {}},
        {"<html>Bad Gateway</html>", {}, {}, {}},
        {"", {}, {}, {}},
        {R"({"name":"Hall","bridgeid":"024743FFFE00000B","mac":"02:47:43:00:00:0b"})", {}, "024743FFFE00000B", {}},
        {R"({"bridgeid":")" + longest + R"("})", {}, longest, {}},
        {R"({"bridgeid":")" + longest + R"(A"})", {}, {}, {}},
        {R"({"bridgeid":""})", {}, {}, {}},
        {R"({"bridgeid":"02:47/43"})", {}, {}, {}},
        {R"([{"success":{"username":".."}}])", {}, {}, {}},
        {R"([{"success":{}}])", {}, {}, {}},
    };
    for (const auto& [reply, error, id, paired] : rows) {
        EXPECT_EQ(bridgeErrorType(reply), error) << reply;
        EXPECT_EQ(bridgeIdFrom(reply), id) << reply;
        EXPECT_EQ(pairedUserFrom(reply), paired) << reply;
    }
}

TEST(BridgeWireTest, ALampListGivesEachUsableLampWithWhatItCanShow)
{
    RecordingLog log;
    const auto lamps = bridgeLampsFrom(
        R"({"1":{"state":{"on":false,"reachable":true},"type":"Extended color light","name":"Desk",)"
        R"("capabilities":{"control":{"colorgamuttype":"C","ct":{"min":153,"max":500}}}},)"
        R"("7":{"state":{"on":true,"reachable":false},"type":"Dimmable light"},"..":{"type":"Dimmable light"},)"
        R"("9":"not a lamp","x y":{"type":"Dimmable light"},"4":{"type":"Color temperature light","name":"Hall",)"
        R"("capabilities":{"control":{"ct":{"min":900,"max":100}}}}})",
        "bridge-2", log);
    ASSERT_TRUE(lamps);
    const std::vector<SystemLamp> expected{
        {"1", "Desk", {LampKind::ExtendedColour, gamutOfType("C"), std::nullopt}, true},
        {"7", "7", {LampKind::Dimmable, std::nullopt, std::nullopt}, false},
        {"4", "Hall", {LampKind::ColourTemperature, std::nullopt, std::nullopt}, true},
    };
    EXPECT_EQ(*lamps, expected);
    EXPECT_EQ(log.lines, std::vector<std::string>{
                             "lamp bridge-2/4: no usable colour temperature range; it is sent brightness only"});
    for (const char* notALampList : {"[]", "", R"({"error":{"type":1}})"})
        EXPECT_FALSE(bridgeLampsFrom(notALampList, "bridge-2", log)) << notALampList;
    EXPECT_EQ(bridgeLampsFrom(" {}", "bridge-2", log), std::vector<SystemLamp>{});
}

TEST(BridgeWireTest, ALampsStateIsReadInItsOwnColourMode)
{
    const std::pair<std::string, std::optional<ReadLampState>> rows[] = {
        {R"({"state":{"on":true,"bri":200,"xy":[0.3127,0.329],"ct":153,"colormode":"xy"},"type":"x"})",
         ReadLampState{true, {false, 200, Chromaticity{0.3127, 0.329}, {}, {}}}},
        {R"({"state":{"on":false,"bri":0,"xy":[0.5,0.4],"ct":366,"colormode":"ct"}})",
         ReadLampState{false, {false, 1, {}, 366, {}}}},
        {R"({"state":{"on":true,"bri":999,"hue":8000,"sat":140,"xy":[0.4,0.4],"colormode":"hs"}})",
         ReadLampState{true, {false, 254, Chromaticity{0.4, 0.4}, {}, {}}}},
        {R"({"state":{"on":true,"xy":[2,0],"ct":0,"colormode":"ct"}})", ReadLampState{true, {}}},
        {R"({"state":{"on":"maybe","bri":20}})", std::nullopt},
        {R"({"on":true})", std::nullopt},
        {R"([{"error":{"type":3}}])", std::nullopt},
    };
    for (const auto& [reply, state] : rows)
        EXPECT_EQ(bridgeLampStateFrom(reply), state) << reply;
}

} // namespace
} // namespace glowcast
