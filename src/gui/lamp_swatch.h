#pragma once

#include "core/colour/colour.h"
#include "core/lamps/lamp_state.h"

namespace glowcast {

// How a lamp state looks on a screen, for the lamp table's swatch: its chromaticity (or its colour
// temperature's white, or plain white) at full strength in sRGB, the largest component 1, then dimmed
// by its brightness (1..254, full when none is sent) in linear light. Colours outside sRGB lose what
// the screen cannot show.
[[nodiscard]] Colour shownColour(const LampState& state);

} // namespace glowcast
