#include "core/lamp_systems/system_address.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace glowcast {
namespace {

// Each row: the address and what a broker connection takes from it, or nothing when it is refused. The
// host and port are checked as every host is (one row here shows the check is made).
TEST(SystemAddressTest, ReadsABrokersAddressAndRefusesWhatNoConnectionCouldUse)
{
    const std::pair<std::string, std::optional<MqttAddress>> rows[] = {
        {"mqtt://192.168.1.5", MqttAddress{"192.168.1.5", 1883, "zigbee2mqtt"}},
        {"mqtt://broker.local:1884/", MqttAddress{"broker.local", 1884, "zigbee2mqtt"}},
        {"mqtt://[::1]:65535/home/z2m", MqttAddress{"::1", 65535, "home/z2m"}},
        {"mqtt://[fe80::2]/a b", MqttAddress{"fe80::2", 1883, "a b"}},
        {"mqtt://h/z", MqttAddress{"h", 1883, "z"}},
        {"mqtt://user:secret@h", std::nullopt},
        {"mqtt:///z2m", std::nullopt},
        {"mqtts://h", std::nullopt},
        {"MQTT://h", std::nullopt},
        {"h:1883", std::nullopt},
        {"mqtt://h/z2m/", std::nullopt},
        {"mqtt://h/a//b", std::nullopt},
        {"mqtt://h/z2m/#", std::nullopt},
        {"mqtt://h/+/x", std::nullopt},
        {"mqtt://h/a\tb", std::nullopt},
        {std::string("mqtt://h/a\0b", 12), std::nullopt},
        {"mqtt://h?x=1", std::nullopt},
    };
    for (const auto& [address, expected] : rows) {
        SCOPED_TRACE(address);
        EXPECT_EQ(parseMqttAddress(address), expected);
        EXPECT_EQ(checkSystemAddress(SystemKind::Zigbee2Mqtt, address).ok(), expected.has_value());
    }
}

TEST(SystemAddressTest, EachKindTakesItsOwnFormOfAddress)
{
    struct Row {
        SystemKind kind;
        std::string address;
        bool accepted;
    };
    const Row rows[] = {
        {SystemKind::Bridge, "192.168.1.21", true},
        {SystemKind::Bridge, "http://192.168.1.21", false},
        {SystemKind::Bridge, "", false},
        {SystemKind::Wled, "wled.local", true},
        {SystemKind::Wled, "http://10.0.0.7:8080", true},
        {SystemKind::Wled, "https://wled.local", false},
        {SystemKind::Wled, "http://wled.local/json", false},
        {SystemKind::HomeAssistant, "http://homeassistant.local:8123", true},
        {SystemKind::HomeAssistant, "https://10.0.0.2", true},
        {SystemKind::HomeAssistant, "homeassistant.local:8123", false},
        {SystemKind::HomeAssistant, "ftp://h", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.address);
        const Outcome outcome = checkSystemAddress(row.kind, row.address);
        EXPECT_EQ(outcome.failure, row.accepted ? Failure::None : Failure::InvalidValue);
        EXPECT_EQ(outcome.message.empty(), row.accepted);
    }
    EXPECT_EQ(checkSystemAddress(SystemKind::Bridge, "a b\n").message,
              "\"a b\\n\" is not a host name or address with an optional port (such as 192.168.1.21 or "
              "hub.local:8080)");
}

// Each row: the ids there are already, the kind added, the id it takes.
TEST(SystemAddressTest, ANewSystemTakesTheFirstFreeIdOfItsKind)
{
    struct Row {
        std::vector<std::string> taken;
        SystemKind kind;
        std::string id;
    };
    const Row rows[] = {
        {{}, SystemKind::Bridge, "bridge-2"},           {{"bridge-2"}, SystemKind::Bridge, "bridge-3"},
        {{"bridge-3"}, SystemKind::Bridge, "bridge-2"}, {{"bridge-2"}, SystemKind::Zigbee2Mqtt, "z2m"},
        {{"z2m"}, SystemKind::Zigbee2Mqtt, "z2m-2"},    {{"z2m", "z2m-2", "z2m-3"}, SystemKind::Zigbee2Mqtt, "z2m-4"},
        {{"z2m"}, SystemKind::HomeAssistant, "ha"},     {{"wled"}, SystemKind::Wled, "wled-2"},
    };
    for (const Row& row : rows) {
        std::vector<SystemRecord> records;
        for (const std::string& id : row.taken)
            records.push_back({id, SystemKind::Zigbee2Mqtt, "mqtt://h", {}, {}});
        EXPECT_EQ(newSystemId(row.kind, records), row.id);
    }
}

} // namespace
} // namespace glowcast
