#pragma once

#include "core/lamps/lamp_restorer.h"
#include "core/ports/log.h"
#include "core/value.h"

#include <optional>
#include <string>
#include <string_view>

namespace glowcast {

struct LampCommand {
    std::string lampId;
    Dictionary body;
    friend bool operator==(const LampCommand&, const LampCommand&) = default;
};

// The body that puts a lamp back as its record (a lamp's record with "state", or the state itself)
// shows it: "on", "bri" and the colour in the lamp's own colour mode ("xy", "ct" or "hue" and
// "sat"). A lamp that was off gets its brightness and colour first and "on":false last. Fields
// that cannot be read are logged and left out; nothing when no field could be read.
[[nodiscard]] std::optional<Dictionary> restoreBodyFrom(std::string_view lampId, const Dictionary& record, Log& log);

} // namespace glowcast
