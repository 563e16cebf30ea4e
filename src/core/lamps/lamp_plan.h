#pragma once

#include "core/colour/colour.h"
#include "core/lamps/lamp_entry.h"

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace glowcast {

// One lamp's part in a cover change: the lamp, and its colour, or nothing for the zero body.
struct LampAssignment {
    std::string id;
    std::optional<Colour> colour;
    friend bool operator==(const LampAssignment&, const LampAssignment&) = default;
};

// Which lamp takes which body for one cover: the enabled lamps in collection order, the k-th of them
// colour k, and those past the end of the colours the zero body.
[[nodiscard]] std::vector<LampAssignment> planLamps(std::span<const LampEntry> lamps, std::span<const Colour> colours);

} // namespace glowcast
