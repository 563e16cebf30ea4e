#pragma once

#include "core/colour/chromaticity.h"
#include "core/lamps/lamp_capabilities.h"
#include "core/lamps/lamp_care_settings.h"
#include "core/lamps/lamp_state.h"

#include <optional>
#include <string>

namespace glowcast {

// The one shaping of a lamp's state from what the palette asks of it, the lamp's capabilities and the
// lamp care settings:
// - a colour lamp (or one of unknown kind) the chromaticity; a colour-temperature lamp the nearest
//   mired; a dimmable lamp brightness only; an on/off lamp nothing but the switch. A lamp is never
//   given a mode it lacks.
// - with fitLamp, the chromaticity moved into the lamp's gamut, the mired into its own range (else
//   153..500), and a near-white colour on a lamp with both colour and colour temperature shown as a
//   colour temperature; without it the chromaticity as it is and the mired in 153..500;
// - the brightness as the palette asks (0, for a black colour or no colour, is the lamp's dimmest
//   light: each system's encoder puts it in its own range), raised to the minimum brightness for a
//   colour;
// - switchOn only for a colour with the switch-on setting; the fade in tenths for every lamp that dims.
[[nodiscard]] LampState shapedLampState(const LampTarget& target, const LampCapabilities& lamp,
                                        const LampCareSettings& settings);

// A short text of a state for the log: "bri 120 xy [0.3000,0.4000] on fade 4".
[[nodiscard]] std::string describe(const LampState& state);

} // namespace glowcast
