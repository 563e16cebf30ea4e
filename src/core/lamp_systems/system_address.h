#pragma once

#include "core/lamp_systems/lamp_system.h"
#include "core/text/outcome.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace glowcast {

// Where a zigbee2mqtt system's broker is, read from "mqtt://HOST[:PORT][/BASE_TOPIC]": port 1883 and
// base topic "zigbee2mqtt" when the address leaves them out. The host is bare (an IPv6 address without
// its brackets), as a connect call takes it.
struct MqttAddress {
    std::string host;
    int port = 1883;
    std::string baseTopic = "zigbee2mqtt";
    friend bool operator==(const MqttAddress&, const MqttAddress&) = default;
};

// The longest base topic and broker user a zigbee2mqtt system takes, in bytes: every topic of ours (the base,
// a device's name of up to 255 bytes, "/availability") stays short, as the broker is told it will be.
inline constexpr std::size_t kLongestBaseTopic = 256;
inline constexpr std::size_t kLongestBrokerUser = 1'024;

// Nothing for anything else: another scheme, a host no URL can hold, user information, a query, or a
// base topic longer than kLongestBaseTopic, with an empty level, a wildcard ('+', '#'), a control character
// or bytes that are no UTF-8.
[[nodiscard]] std::optional<MqttAddress> parseMqttAddress(std::string_view address);

// Whether a system of this kind can be reached at this address, by its kind's rule. InvalidValue with a
// sentence that says what the address should look like.
[[nodiscard]] Outcome checkSystemAddress(SystemKind kind, std::string_view address);

// Whether a broker takes the user name: 1 to kLongestBrokerUser bytes of UTF-8 without control characters
// (a name it does not take would make the connection anonymous). InvalidValue with a sentence that says so.
[[nodiscard]] Outcome checkBrokerUser(std::string_view user);

// The id a new system of this kind takes among the records: the kind's stem, then "-2", "-3"... A bridge starts at
// "bridge-2": the first bridge is the one whose lamps have plain ids.
[[nodiscard]] std::string newSystemId(SystemKind kind, std::span<const SystemRecord> records);

} // namespace glowcast
