#pragma once

#include "core/lamp_systems/lamp_system.h"
#include "core/ports/log.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace glowcast {

// A light entity of Home Assistant's GET /api/states, as Glowcast keeps it.
struct HomeAssistantLight {
    std::string entityId;
    std::string name;
    LampCapabilities capabilities;
    bool available = true;
    bool on = false;
    friend bool operator==(const HomeAssistantLight&, const HomeAssistantLight&) = default;
};

// The most lights taken from one list; the rest are left out with a log line.
inline constexpr std::size_t kMostHomeAssistantLights = 1000;

// The light.* entities of a states list, in its order: named by friendly_name (their entity id when it
// has none or holds control characters), with what their supported_color_modes let them show,
// unavailable when their state says so. Entities of other domains are passed over; a light whose id is
// no plain entity id, or that came before, is left out with a log line. Nothing (with a log line) for a
// reply that is not a JSON list: HTML, nested too deep, cut short.
[[nodiscard]] std::optional<std::vector<HomeAssistantLight>>
readHomeAssistantStates(std::string_view reply, std::string_view logPrefix, Log& log,
                        std::size_t mostLights = kMostHomeAssistantLights);

// One light's state from GET /api/states/<entity_id>; nothing for a reply that is no such state.
[[nodiscard]] std::optional<ReadLampState> readHomeAssistantState(std::string_view reply);

} // namespace glowcast
