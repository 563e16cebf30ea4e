#pragma once

#include "core/lamp_care/lamp_capabilities.h"
#include "core/lamp_care/lamp_care_settings.h"
#include "core/lamp_systems/lamp_system.h"
#include "core/value.h"

namespace glowcast {

// What a lamp of another lamp system is to show for the body the first bridge's lamp in its place
// would be sent (a colour {"bri","xy"} or the zero body {"bri":0,"sat":0}), so that every system
// shows the same colours:
// - a colour lamp (or one of unknown kind) the body's chromaticity, moved into its gamut when it has
//   one; a colour-temperature lamp the nearest mired of its range (153..500 when it gave none); a
//   dimmable lamp brightness only; an on/off lamp nothing but the switch;
// - brightness 1..254, never 0: a black colour or the zero body is the lamp's dimmest light, and the
//   minimum brightness raises it;
// - switchOn only with the switch-on setting; the fade in tenths for every lamp that dims.
// The lamp is always fitted: another system's wire has no attribute the lamp would ignore.
[[nodiscard]] LampState lampStateFor(const Dictionary& body, const LampCapabilities& lamp,
                                     const LampCareSettings& settings);

} // namespace glowcast
