#pragma once

#include "core/ports/log.h"

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace glowcast {

// What Glowcast publishes on a broker, retained, below its base topic:
//   BASE/status        "online"; "offline" once it quit, or died (its last will)
//   BASE/palette       the palette of the last cover, as a document of JSON
//   BASE/following     "ON" while covers colour the lamps, "OFF" while paused
//   BASE/palette_name  the palette covers are taken with ("classic", "vivid")
//   BASE/pinned        "ON" while the lamps keep their colours whatever the cover
// The last three take commands on their topic and "/set".
struct PublishedTopics {
    explicit PublishedTopics(std::string_view base);
    std::string status;
    std::string palette;
    std::string following;
    std::string paletteName;
    std::string pinned;
    [[nodiscard]] std::vector<std::string> commandTopics() const;
};

// The device Home Assistant shows Glowcast as.
struct HomeAssistantDevice {
    std::string base;
    std::string discoveryPrefix;
    std::string nodeId;   // "glowcast_0123abcd"
    std::string hostName; // named in the device's name, "Glowcast (<host name>)"
};

// "glowcast_" and the first 8 hexadecimal digits of the machine id, lowercase, so that two computers on one
// broker never share a device. Without such digits (no machine id, a short one) a log line says so and the
// digits are those of the host name's 32-bit FNV-1a hash: the same at every start, so Home Assistant keeps one
// device, and apart for computers apart by name, as computers on one network are.
[[nodiscard]] std::string homeAssistantNodeId(std::string_view machineId, std::string_view hostName, Log& log);

struct MqttMessage {
    std::string topic;
    std::string payload;
    friend bool operator==(const MqttMessage&, const MqttMessage&) = default;
};

// Home Assistant's single-component discovery configs, for PREFIX/<component>/<node id>/<object>/config: a
// sensor "palette" whose state is the first colour and whose attributes are the palette's document, a switch
// "following", a select "palette_name" and a switch "pinned". Each has a unique id (the node id, '_', the
// object), BASE/status for its availability and the device {"identifiers": [node id], "name": ...}.
[[nodiscard]] std::vector<MqttMessage> discoveryConfigs(const HomeAssistantDevice& device);

// What a command from Home Assistant asks for.
struct HomeAssistantCommand {
    enum class Action { Follow, Pin, Palette };
    Action action = Action::Follow;
    bool on = false;     // Follow and Pin
    std::string palette; // Palette: one of the "palette" setting's choices
    friend bool operator==(const HomeAssistantCommand&, const HomeAssistantCommand&) = default;
};
// A message on a command topic: the command, or a log line saying why it asks for nothing (a payload that
// is not one of the options, a topic that takes no command).
[[nodiscard]] std::variant<HomeAssistantCommand, std::string>
homeAssistantCommand(const PublishedTopics& topics, std::string_view topic, std::string_view payload);

// A switch's state as Home Assistant reads it: "ON" or "OFF".
[[nodiscard]] std::string switchState(bool on);

} // namespace glowcast
