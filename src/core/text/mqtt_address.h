#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace glowcast {

// Where a broker is, read from "mqtt://HOST[:PORT][/BASE_TOPIC]": port 1883 and the reader's base topic
// when the address leaves them out. The host is bare (an IPv6 address without its brackets), as a connect
// call takes it.
struct MqttAddress {
    std::string host;
    int port = 1883;
    std::string baseTopic = "zigbee2mqtt";
    friend bool operator==(const MqttAddress&, const MqttAddress&) = default;
};

// The longest base topic and broker user Glowcast takes, in bytes: every topic of ours (the base, a
// device's name of up to 255 bytes, "/availability") stays short, as the broker is told it will be.
inline constexpr std::size_t kLongestBaseTopic = 256;
inline constexpr std::size_t kLongestBrokerUser = 1'024;

// Nothing for anything else: another scheme, a host no URL can hold, user information, a query, or a
// base topic that isMqttTopic refuses.
[[nodiscard]] std::optional<MqttAddress> parseMqttAddress(std::string_view address,
                                                          std::string_view defaultBase = "zigbee2mqtt");

// A topic Glowcast publishes under or subscribes below: at most kLongestBaseTopic bytes of UTF-8, no
// empty level, no wildcard ('+', '#') and no control character.
[[nodiscard]] bool isMqttTopic(std::string_view topic);

// A user name a broker takes: 1 to kLongestBrokerUser bytes of UTF-8 without control characters.
[[nodiscard]] bool isBrokerUser(std::string_view user);

// Well-formed UTF-8 (no overlong form, no surrogate) without C1 control characters; C0 and DEL are the
// callers' to refuse.
[[nodiscard]] bool isUtf8(std::string_view text);

} // namespace glowcast
