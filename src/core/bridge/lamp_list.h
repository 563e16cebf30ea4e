#pragma once

#include "core/json/value.h"
#include "core/lamps/lamp_entry.h"
#include "core/ports/log.h"

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace glowcast {

// What is kept of a bridge's lamp list. A bridge has a few dozen lamps with names of up to 32
// characters; these bounds leave room for more while keeping the saved selection small enough to
// be read back.
inline constexpr std::size_t kMostLamps = 256;
inline constexpr std::size_t kLongestLampName = 64; // characters
inline constexpr std::size_t kLongestLampId = 64;   // bytes

// The lamps of the bridge's "lights" reply, in the reply's order, each disabled. Nothing when the
// reply is not a lamp list: not one JSON object, or an object in which nothing is a lamp (a bridge
// without lamps answers "{}", which gives an empty list). Entries without a name, and ids that
// cannot stand as one segment of a URL path or are longer than kLongestLampId, are left out; names
// are cut to kLongestLampName characters and lamps after the first kMostLamps left out. Each of
// these is logged; the decoder writes its own working too. When decoded is given and the reply is a
// lamp list, it receives the decoded reply, for whoever reads more of the lamps' records.
[[nodiscard]] std::optional<std::vector<LampEntry>> lampsFromLightsReply(std::string_view reply, Log& log,
                                                                         Dictionary* decoded = nullptr);

} // namespace glowcast
