#include "adapters/homeassistant/home_assistant_states.h"
#include "core/lamp_systems/home_assistant_light.h"
#include "support/recording_log.h"

#include <QJsonDocument>

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string_view>

// Any bytes as Home Assistant's states list and as one light's state: no crash, and what is read holds
// what the adapter relies on: plain, unique light ids, at most the capped number, and every service call
// it would make a JSON object.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    glowcast::NullLog log;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::optional<glowcast::ReadLampState> read = glowcast::readHomeAssistantState(bytes);
    const auto lights = glowcast::readHomeAssistantStates(bytes, "ha: ", log);
    if (!lights)
        return 0;
    if (lights->size() > glowcast::kMostHomeAssistantLights)
        std::abort();
    std::set<std::string> ids;
    const glowcast::LampState state{true, 254, glowcast::Chromaticity{0.3127, 0.329}, std::nullopt, 4};
    for (const glowcast::HomeAssistantLight& light : *lights) {
        if (!glowcast::isHomeAssistantLightId(light.entityId) || !ids.insert(light.entityId).second)
            std::abort();
        for (const glowcast::HomeAssistantCall& call :
             {glowcast::homeAssistantTurnOn(light.entityId, state, light.capabilities),
              glowcast::homeAssistantRestore(light.entityId, read.value_or(glowcast::ReadLampState{}))})
            if (!QJsonDocument::fromJson(QByteArray::fromStdString(call.data)).isObject())
                std::abort();
    }
    return 0;
}
