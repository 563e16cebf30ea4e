#include "adapters/zigbee2mqtt/zigbee2mqtt_devices.h"
#include "support/recording_log.h"

#include <QJsonDocument>

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string_view>

// Any bytes as zigbee2mqtt's device list and as a device's state message: no crash, and what is read
// holds what the adapter relies on: each lamp's topic name usable, keys and names unique, at most the
// capped number of devices, and every set message it would send a JSON object.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    glowcast::NullLog log;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    (void)glowcast::readOnline(bytes);
    const auto lamps = glowcast::readZigbee2MqttDevices(bytes, log);
    if (!lamps)
        return 0;
    std::set<std::string> keys;
    std::set<std::string> names;
    std::set<std::string> devices;
    const glowcast::LampState state{true, 254, glowcast::Chromaticity{0.7, 0.3}, std::nullopt, 4};
    for (const glowcast::Zigbee2MqttLamp& lamp : *lamps) {
        if (!glowcast::isTopicName(lamp.friendlyName) || !keys.insert(lamp.key).second ||
            !names.insert(lamp.name).second)
            std::abort();
        devices.insert(lamp.friendlyName);
        const std::string payload = glowcast::zigbee2MqttSetPayload(lamp, state);
        if (!QJsonDocument::fromJson(QByteArray::fromStdString(payload)).isObject())
            std::abort();
        (void)glowcast::readZigbee2MqttState(lamp, bytes);
    }
    if (devices.size() > glowcast::kMostZigbee2MqttDevices)
        std::abort();
    return 0;
}
