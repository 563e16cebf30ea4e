#pragma once

#include "core/lamp_systems/lamp_system.h"
#include "core/ports/log.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace glowcast {

// The texts a further bridge is sent and the replies it gives, read with the bridge's own codec
// (its working is not logged: a further bridge's log is kept to what a user needs). Each reader
// gives nothing for a reply that does not say what it reads.

// The body of a lamp-state request: "on":true only with switchOn, then "bri", "xy", "ct" and
// "transitiontime", each when the state has it.
[[nodiscard]] std::string bridgeStateBody(const LampState& state);
// The body that puts a lamp back as read: {"on":false} when it was off, else what it showed, switched on.
[[nodiscard]] std::string bridgeRestoreBody(const ReadLampState& state);

// The type of the error a reply reports (-1 when it gives none that reads as a number).
[[nodiscard]] std::optional<int> bridgeErrorType(std::string_view reply);
// The bridge's id from its /api/config: letters and digits, at most 64.
[[nodiscard]] std::optional<std::string> bridgeIdFrom(std::string_view config);
// The user name a pairing reply gives, when it can stand in a URL.
[[nodiscard]] std::optional<std::string> pairedUserFrom(std::string_view reply);
// The lamps of a lamp list, in the bridge's order: each lamp whose id can stand in a URL, named as the
// bridge names it (else by its id), with what it can show by the first bridge's rules, unavailable
// when the bridge says it is not reachable. Lines about a lamp name it "systemId/lampId".
[[nodiscard]] std::optional<std::vector<SystemLamp>> bridgeLampsFrom(std::string_view reply, std::string_view systemId,
                                                                     Log& log);
// A lamp's state from its record: on or off, its brightness (1..254) and its colour as its
// "colormode" says ("ct" a colour temperature, any other the "xy" point).
[[nodiscard]] std::optional<ReadLampState> bridgeLampStateFrom(std::string_view reply);

} // namespace glowcast
