#include "core/lamps/lamp_plan.h"

namespace glowcast {

std::vector<LampAssignment> planLamps(std::span<const LampEntry> lamps, std::span<const Colour> colours)
{
    std::vector<LampAssignment> plan;
    for (const LampEntry& lamp : lamps) {
        if (!lamp.enabled)
            continue;
        const std::size_t k = plan.size();
        plan.push_back({lamp.id, k < colours.size() ? std::optional<Colour>{colours[k]} : std::nullopt});
    }
    return plan;
}

} // namespace glowcast
