#pragma once

#include "core/lamp_systems/lamp_system.h"
#include "core/ports/log.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace glowcast {

// One lamp zigbee2mqtt offers: a light of a device, or one light endpoint of a device that has several.
// The properties are the names its state and its set messages use ("state", or "state_l1" for an
// endpoint's light); a missing one is a feature the light does not have.
struct Zigbee2MqttLamp {
    std::string key;          // the device's ieee_address, "-ENDPOINT" added for an endpoint's light
    std::string name;         // the friendly name, " (ENDPOINT)" added for an endpoint's light
    std::string friendlyName; // the device's topic under the base topic
    std::string stateProperty = "state";
    std::optional<std::string> brightnessProperty;
    std::optional<std::string> colourProperty;
    bool hueSaturation = false; // its colour is sent as hue and saturation (color_hs listed first)
    std::optional<std::string> colourTemperatureProperty;
    LampCapabilities capabilities;
    friend bool operator==(const Zigbee2MqttLamp&, const Zigbee2MqttLamp&) = default;
};

// The most devices read from one list; the rest are left out with a log line.
inline constexpr std::size_t kMostZigbee2MqttDevices = 5'000;

// The lamps of zigbee2mqtt's retained device list (BASE/bridge/devices), in its order. Nothing when it
// is not a JSON list. Left out, each with a log line: a device without a definition, the second device
// with a name or key already taken, a name that cannot be a topic (empty levels, '+', '#', NUL, control
// characters), devices past the cap. Devices without a light are left out silently (sensors, plugs).
[[nodiscard]] std::optional<std::vector<Zigbee2MqttLamp>> readZigbee2MqttDevices(std::string_view json, Log& log);

// Whether a friendly name can stand as topic levels under the base topic: no empty level, no wildcard,
// NUL or control character, and none of zigbee2mqtt's own topics ("bridge/...", ".../set", ".../get").
[[nodiscard]] bool isTopicName(std::string_view name);

// The JSON text of the set message that makes the lamp show the state, with the lamp's own properties:
// {"state":"ON","brightness":200,"color":{"x":0.6400,"y":0.3300},"transition":0.5}; colour as
// {"hue":0,"saturation":100} for a hue-and-saturation lamp; "color_temp" in mired. What the lamp has no
// property for is left out; "state" only when the state switches it on.
[[nodiscard]] std::string zigbee2MqttSetPayload(const Zigbee2MqttLamp& lamp, const LampState& state);

// The set message that puts a lamp back as read: {"state":"OFF"} for one that was off.
[[nodiscard]] std::string zigbee2MqttRestorePayload(const Zigbee2MqttLamp& lamp, const ReadLampState& state);

// The lamp's state in a state message of its device (BASE/<friendly name>); nothing when the message is
// not a JSON object or lacks the lamp's state. A colour given only as hue and saturation is read as the
// chromaticity of them.
[[nodiscard]] std::optional<ReadLampState> readZigbee2MqttState(const Zigbee2MqttLamp& lamp, std::string_view json);

// Whether a bridge/state or availability message says online: "online" or {"state":"online"}; nothing
// when it says neither online nor offline.
[[nodiscard]] std::optional<bool> readOnline(std::string_view payload);

// Hue (0..359) and saturation (0..100) of the colour at the chromaticity, as an sRGB display shows it.
struct HueSaturation {
    int hue = 0;
    int saturation = 0;
    friend bool operator==(const HueSaturation&, const HueSaturation&) = default;
};
[[nodiscard]] HueSaturation hueSaturationOf(Chromaticity point);
// The chromaticity an sRGB display shows the hue and saturation at (at full value): hueSaturationOf turns
// it back into them, but for saturations of 92 to 99, which come back as 100.
[[nodiscard]] Chromaticity chromaticityOf(HueSaturation colour);

} // namespace glowcast
