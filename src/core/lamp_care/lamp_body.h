#pragma once

#include "core/lamp_care/lamp_capabilities.h"
#include "core/lamp_care/lamp_care_settings.h"
#include "core/value.h"

namespace glowcast {

// One lamp's body as lamp care sends it, from the body it would be sent without lamp care: a
// colour {"bri","xy"} or the zero body {"bri":0,"sat":0}.
// - switch on puts "on":true first in a colour; the minimum brightness raises a colour's "bri";
// - fit the lamp moves "xy" into the lamp's gamut, sends a colour-temperature lamp the nearest
//   "ct" in its range instead, and leaves out every attribute the lamp's kind does not take;
// - fade adds "transitiontime" last.
// With no setting the result is the body itself, key for key. Empty when the lamp takes none of it.
[[nodiscard]] Dictionary shapedLampBody(const Dictionary& body, const LampCapabilities& lamp,
                                        const LampCareSettings& settings);

} // namespace glowcast
