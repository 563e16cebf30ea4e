#pragma once

#include "core/colour/chromaticity.h"
#include "core/json/value.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace glowcast {

// Readers of the fields of decoded bridge replies, where every leaf is a text: each gives nothing
// for a missing field and for anything that is not exactly what it reads.

// A whole number written as decimal digits (or held as a whole number).
[[nodiscard]] std::optional<std::int64_t> wholeNumberFrom(const Value* value);
// "true" or "false" (or a flag).
[[nodiscard]] std::optional<bool> flagFrom(const Value* value);
// "[x,y]", spaces allowed between tokens, both coordinates numbers in 0..1.
[[nodiscard]] std::optional<Chromaticity> chromaticityFrom(std::string_view text);
// "[[x,y],[x,y],[x,y]]" of three such points that span a real triangle.
[[nodiscard]] std::optional<Gamut> gamutFrom(std::string_view text);

} // namespace glowcast
