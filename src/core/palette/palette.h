#pragma once

#include "core/colour/colour.h"
#include "core/json/value.h"
#include "core/lamps/lamp_state.h"
#include "core/ports/cover_image.h"
#include "core/ports/log.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace glowcast {

class Settings;

// How a cover's colours are chosen and sent: the classic extractor and conversion (the default), or
// the vivid palette.
enum class Palette { Classic, Vivid };

// The "palette" setting's choice.
[[nodiscard]] Palette paletteFrom(const Settings& settings);
// Nothing for a word that names no palette.
[[nodiscard]] std::optional<Palette> paletteNamed(std::string_view word);
// The word the setting takes for it: "classic" or "vivid".
[[nodiscard]] std::string_view paletteName(Palette palette);

// The n colours of a cover (image null for one that did not decode) with the palette: the classic
// one logs as it always has; the vivid one works on the same 80 x 80 redraw.
[[nodiscard]] std::vector<Colour> paletteColours(Palette palette, const CoverImage* image, std::int32_t n, Log& log);
// What a lamp of any system is asked to show for a colour of that palette: the numbers of its body.
// With a log, the classic palette logs the chromaticity and its correction, as for a first bridge's lamp.
[[nodiscard]] LampTarget paletteLampTarget(Palette palette, const std::optional<Colour>& colour);
[[nodiscard]] LampTarget paletteLampTarget(Palette palette, const std::optional<Colour>& colour, Log& log);

} // namespace glowcast
