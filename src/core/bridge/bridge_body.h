#pragma once

#include "core/json/value.h"
#include "core/lamps/lamp_capabilities.h"
#include "core/lamps/lamp_state.h"

namespace glowcast {

// The body of a lamp-state request to a further bridge, in the bridge's order: "on":true only with
// switchOn, then "bri" (in 1..254), "xy" (four decimals), "ct" and "transitiontime", each when the
// state has it.
[[nodiscard]] Dictionary bridgeStateFields(const LampState& state);

// The first bridge's body for a state, in the same order, with what it is sent apart from a further
// bridge: "bri" as the palette gives it (0..255), a chromaticity that reads back exactly from three
// decimals written with three (as the palette gives one), and a lamp of the kind that takes colour but
// is given none shown white with "sat":0 after "bri". Empty when the lamp takes none of the state.
[[nodiscard]] Dictionary firstBridgeStateFields(const LampState& state, LampKind kind);

// The first bridge's body for what a palette asks of a lamp of unknown kind with every lamp-care
// setting at its default: {"bri","xy"} for a colour, {"bri":0,"sat":0} without one.
[[nodiscard]] Dictionary firstBridgeBody(const LampTarget& target);

} // namespace glowcast
