#pragma once

#include "core/colour/colour.h"
#include "core/lamps/lamp_state.h"
#include "core/ports/log.h"

#include <cstdint>
#include <optional>
#include <string>

namespace glowcast {

// The lamp's brightness, 0..255: the colour's brightness scaled by 128 for hues strictly between
// 0.2 and 0.75 (greens, cyans, blues) and by 255 otherwise, truncated.
[[nodiscard]] std::int32_t briValueOf(const Colour& colour);

// The fixed correction a chromaticity got, if any.
enum class XyCorrection { None, Blue, Green };

// The CIE 1931 chromaticity of a colour, before and after the fixed blue and green corrections.
struct CorrectedXy {
    float x = 0.0F;
    float y = 0.0F;
    float uncorrectedX = 0.0F;
    float uncorrectedY = 0.0F;
    XyCorrection correction = XyCorrection::None;
};
[[nodiscard]] CorrectedXy correctedXy(const Colour& colour);

// A value to the three decimals a chromaticity is sent with, rounded as its text "%.3f" is.
[[nodiscard]] double toThreeDecimals(double value);

// What the classic palette asks of a lamp for the colour: the body's brightness and chromaticity
// as numbers. With a log, logs the chromaticity before its correction ("[x,y]" with three decimals)
// and each correction made.
[[nodiscard]] LampTarget lampTargetOf(const std::optional<Colour>& colour);
[[nodiscard]] LampTarget lampTargetOf(const std::optional<Colour>& colour, Log& log);

} // namespace glowcast
