// Any bytes as Home Assistant's states list and as one light's state: no crash, and what is read holds
// what the adapter relies on: plain, unique light ids, at most the capped number, and every service call
// it would make a JSON object.
#include "adapters/homeassistant/home_assistant_states.h"
#include "core/lamp_systems/home_assistant_light.h"
#include "fuzz_support.h"

#include <QJsonDocument>

#include <set>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace glowcast;
    NullLog log;
    const std::string_view bytes = fuzz::textOf(data, size);
    const std::optional<ReadLampState> read = readHomeAssistantState(bytes);
    const auto lights = readHomeAssistantStates(bytes, "ha: ", log).value_or(std::vector<HomeAssistantLight>{});
    fuzz::require(lights.size() <= kMostHomeAssistantLights);
    std::set<std::string> ids;
    const LampState state{true, 254, Chromaticity{0.3127, 0.329}, std::nullopt, 4};
    for (const HomeAssistantLight& light : lights) {
        fuzz::require(isHomeAssistantLightId(light.entityId) && ids.insert(light.entityId).second);
        for (const HomeAssistantCall& call : {homeAssistantTurnOn(light.entityId, state, light.capabilities),
                                              homeAssistantRestore(light.entityId, read.value_or(ReadLampState{}))})
            fuzz::require(QJsonDocument::fromJson(QByteArray::fromStdString(call.data)).isObject());
    }
    return 0;
}
