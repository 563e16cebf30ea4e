#include "app/lamp_system_factory.h"

#include "adapters/bridge/bridge_system.h"
#include "adapters/homeassistant/home_assistant_system.h"
#include "adapters/wled/wled_system.h"
#include "adapters/zigbee2mqtt/zigbee2mqtt_system.h"

namespace glowcast {

std::unique_ptr<LampSystem> AppLampSystemFactory::create(const SystemRecord& record)
{
    switch (record.kind) {
    case SystemKind::Bridge:
        return std::make_unique<BridgeSystem>(record, m_log, BridgeSystem::Options{.firstBridge = m_firstBridge});
    case SystemKind::Zigbee2Mqtt:
        return makeZigbee2MqttSystem(record, m_configDirectory, m_log);
    case SystemKind::HomeAssistant:
        return makeHomeAssistantSystem(record, m_configDirectory, m_log);
    case SystemKind::Wled:
        return std::make_unique<WledSystem>(record, m_log, WledSystem::Options{});
    }
    return nullptr;
}

} // namespace glowcast
