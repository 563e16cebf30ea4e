#pragma once

#include "core/json/value.h"
#include "core/lamps/lamp_capabilities.h"
#include "core/ports/log.h"

#include <optional>
#include <string_view>

namespace glowcast {

// Readers of one lamp's record as the bridge lists it (its lamp list, or the lamp read alone).

// Reads one lamp's record from the decoded lamp list: "type" and "capabilities" / "control" with
// "colorgamut" (else "colorgamuttype") and "ct" / "min", "max". Logs what it cannot use.
[[nodiscard]] LampCapabilities lampCapabilitiesFrom(std::string_view lampId, const Dictionary& record, Log& log);

// The body that puts a lamp back as its record (a lamp's record with "state", or the state itself)
// shows it: "on", "bri" and the colour in the lamp's own colour mode ("xy", "ct" or "hue" and
// "sat"). A lamp that was off gets its brightness and colour first and "on":false last. Fields
// that cannot be read are logged and left out; nothing when no field could be read.
[[nodiscard]] std::optional<Dictionary> restoreBodyFrom(std::string_view lampId, const Dictionary& record, Log& log);

} // namespace glowcast
