#include "core/publishing/home_assistant_discovery.h"
#include "core/settings/settings.h"
#include "core/text/mqtt_address.h"

#include "support/recording_log.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

namespace glowcast {
namespace {

using Action = HomeAssistantCommand::Action;
using Answer = std::variant<HomeAssistantCommand, std::string>;

// Each row: a message on a topic and what it asks for, or the log line that refuses it.
TEST(HomeAssistantDiscoveryTest, TakesOnlyTheOptionsOfEachCommandTopic)
{
    const PublishedTopics topics{"gc/desk"};
    const std::tuple<std::string, std::string, Answer> rows[] = {
        {"gc/desk/following/set", "OFF", HomeAssistantCommand{Action::Follow, false, {}}},
        {"gc/desk/following/set", "ON", HomeAssistantCommand{Action::Follow, true, {}}},
        {"gc/desk/pinned/set", "ON", HomeAssistantCommand{Action::Pin, true, {}}},
        {"gc/desk/palette_name/set", "vivid", HomeAssistantCommand{Action::Palette, false, "vivid"}},
        {"gc/desk/following/set", "on", R"(mqtt: "gc/desk/following/set" takes ON or OFF, not "on"; nothing changed)"},
        {"gc/desk/palette_name/set", "sepia\n",
         R"(mqtt: "gc/desk/palette_name/set" takes classic or vivid, not "sepia\n"; nothing changed)"},
        {"gc/desk/palette/set", "ON", R"(mqtt: "gc/desk/palette/set" takes no command)"},
        {"gc/desk/pinned", "ON", R"(mqtt: "gc/desk/pinned" takes no command)"},
    };
    for (const auto& [topic, payload, expected] : rows)
        EXPECT_EQ(homeAssistantCommand(topics, topic, payload), expected) << topic << " " << payload;
}

TEST(HomeAssistantDiscoveryTest, ConfigsNameTheDeviceItsTopicsAndAUniqueIdEach)
{
    const std::vector<MqttMessage> configs = discoveryConfigs({"gc", "ha", "glowcast_0123abcd", "desk \"1\""});
    std::vector<std::string> topics;
    for (const MqttMessage& config : configs)
        topics.push_back(config.topic);
    EXPECT_EQ(topics, (std::vector<std::string>{"ha/sensor/glowcast_0123abcd/palette/config",
                                                "ha/switch/glowcast_0123abcd/following/config",
                                                "ha/select/glowcast_0123abcd/palette_name/config",
                                                "ha/switch/glowcast_0123abcd/pinned/config"}));
    EXPECT_EQ(configs[0].payload,
              R"({"name":"Palette","unique_id":"glowcast_0123abcd_palette","state_topic":"gc/palette",)"
              R"("value_template":"{{ value_json.colours[0] }}","json_attributes_topic":"gc/palette",)"
              R"("icon":"mdi:palette","availability_topic":"gc/status","device":{"identifiers":)"
              R"x(["glowcast_0123abcd"],"name":"Glowcast (desk \"1\")"}})x");
    EXPECT_NE(configs[2].payload.find(R"("state_topic":"gc/palette_name","command_topic":"gc/palette_name/set",)"
                                      R"("options":["classic","vivid"])"),
              std::string::npos);
}

// Each row: /etc/machine-id's text and the node id; without 8 hex digits, the host name's hash and a line.
TEST(HomeAssistantDiscoveryTest, NodeIdTellsComputersApartByMachineIdElseByHostName)
{
    const std::tuple<std::string, std::string, bool> rows[] = {
        {"0123ABCDef4567890123456789abcdef\n", "glowcast_0123abcd", false},
        {"", "glowcast_8b030cb8", true},
        {"0123abc\n", "glowcast_8b030cb8", true},
        {"0123abcz", "glowcast_8b030cb8", true},
    };
    for (const auto& [machineId, node, logged] : rows) {
        RecordingLog log;
        EXPECT_EQ(homeAssistantNodeId(machineId, "desk", log), node) << machineId;
        EXPECT_EQ(testing::logHas(log, "Home Assistant's node id is made from the host name \"desk\""), logged);
    }
}

// Each row: a value of "mqtt" or "mqttDiscovery", and the refusal ("" when taken).
TEST(HomeAssistantDiscoveryTest, RefusesABaseOrPrefixNoSubscriberCouldNameWhereItIsGiven)
{
    const std::tuple<std::string, std::string, std::string> rows[] = {
        {"mqtt", "mqtt://broker.local:1884/home/glowcast", ""},
        {"mqtt", "", ""},
        {"mqtt", "mqtt://h/a+b",
         R"("mqtt" has a base topic with '+', '#', an empty level or a control character, or of over 256 bytes: )"
         R"("mqtt://h/a+b")"},
        {"mqtt", "mqtt://h/#", "has a base topic"},
        {"mqtt", "mqtt://h/a\tb", "has a base topic"},
        {"mqtt", "http://h", R"("mqtt" is not mqtt://HOST[:PORT][/BASE])"},
        {"mqttDiscovery", "homeassistant", ""},
        {"mqttDiscovery", "home+assistant", R"("mqttDiscovery" is a topic without '+', '#')"},
        {"mqttUser", "a\x01", R"("mqttUser" is at most 1024 bytes)"},
    };
    for (const auto& [key, value, refusal] : rows) {
        const Outcome outcome = checkSetting(*findSetting(key), value);
        EXPECT_NE(outcome.message.find(refusal), std::string::npos) << value << ": " << outcome.message;
        EXPECT_EQ(outcome.ok(), refusal.empty()) << value;
    }
    EXPECT_EQ(parseMqttAddress("mqtt://h", kMqttDefaultBase)->baseTopic, "glowcast");
}

} // namespace
} // namespace glowcast
