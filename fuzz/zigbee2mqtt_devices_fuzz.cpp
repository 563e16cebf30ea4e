// Any bytes as zigbee2mqtt's device list and as a device's state message: no crash, and what is read
// holds what the adapter relies on: each lamp's topic name usable, keys and names unique, at most the
// capped number of devices, and every set message it would send a JSON object.
#include "adapters/zigbee2mqtt/zigbee2mqtt_devices.h"
#include "fuzz_support.h"

#include <QJsonDocument>

#include <set>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace glowcast;
    NullLog log;
    const std::string_view bytes = fuzz::textOf(data, size);
    (void)readOnline(bytes);
    std::set<std::string> keys;
    std::set<std::string> names;
    std::set<std::string> devices;
    const LampState state{true, 254, Chromaticity{0.7, 0.3}, std::nullopt, 4};
    for (const Zigbee2MqttLamp& lamp : readZigbee2MqttDevices(bytes, log).value_or(std::vector<Zigbee2MqttLamp>{})) {
        fuzz::require(isTopicName(lamp.friendlyName) && keys.insert(lamp.key).second && names.insert(lamp.name).second);
        devices.insert(lamp.friendlyName);
        const std::string payload = zigbee2MqttSetPayload(lamp, state);
        fuzz::require(QJsonDocument::fromJson(QByteArray::fromStdString(payload)).isObject());
        (void)readZigbee2MqttState(lamp, bytes);
    }
    fuzz::require(devices.size() <= kMostZigbee2MqttDevices);
    return 0;
}
