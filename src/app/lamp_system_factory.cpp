#include "app/lamp_system_factory.h"

#include "adapters/bridge/bridge_system.h"
#include "adapters/homeassistant/home_assistant_system.h"
#include "adapters/wled/wled_system.h"
#include "adapters/zigbee2mqtt/zigbee2mqtt_system.h"

#include <algorithm>
#include <array>

namespace glowcast {

namespace {

using MakeSystem = std::unique_ptr<LampSystem> (*)(const SystemRecord& record, const SystemAdapterContext& context);

struct KindAdapter {
    SystemKind kind;
    MakeSystem make;
};

// Each kind's adapter, beside the core's table of kinds: a kind without one does not build.
constexpr std::array<KindAdapter, kSystemKindCount> kAdapters{{
    {SystemKind::Bridge,
     [](const SystemRecord& record, const SystemAdapterContext& context) -> std::unique_ptr<LampSystem> {
         return std::make_unique<BridgeSystem>(record, context.log,
                                               BridgeSystem::Options{.firstBridge = context.firstBridge});
     }},
    {SystemKind::Zigbee2Mqtt,
     [](const SystemRecord& record, const SystemAdapterContext& context) {
         return makeZigbee2MqttSystem(record, context.configDirectory, context.log);
     }},
    {SystemKind::HomeAssistant,
     [](const SystemRecord& record, const SystemAdapterContext& context) {
         return makeHomeAssistantSystem(record, context.configDirectory, context.log);
     }},
    {SystemKind::Wled,
     [](const SystemRecord& record, const SystemAdapterContext& context) -> std::unique_ptr<LampSystem> {
         return std::make_unique<WledSystem>(record, context.log, WledSystem::Options{.soundReactive = context.beatOn});
     }},
}};

constexpr bool adaptsEachKindOnce()
{
    for (std::size_t kind = 0; kind < kSystemKindCount; ++kind)
        if (std::ranges::count(kAdapters, static_cast<SystemKind>(kind), &KindAdapter::kind) != 1)
            return false;
    return std::ranges::none_of(kAdapters, [](const KindAdapter& adapter) { return adapter.make == nullptr; });
}
static_assert(adaptsEachKindOnce(), "every kind has one adapter");

} // namespace

std::unique_ptr<LampSystem> AppLampSystemFactory::create(const SystemRecord& record)
{
    return std::ranges::find(kAdapters, record.kind, &KindAdapter::kind)->make(record, m_context);
}

} // namespace glowcast
