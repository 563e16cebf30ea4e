#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace glowcast {

// The longest line the log writes, in bytes; what goes beyond is cut with a note of how much.
inline constexpr std::size_t kLongestLogLine = 4096;

// The form a line takes in the log, whatever a reply, a name or a file put into it: control
// characters (C0, DEL and C1) written as escapes ("\r", "\n", "\t", "\x00"), so one call is one
// line and no text can forge another; and at most kLongestLogLine bytes, the rest replaced by
// " ... (N more bytes cut)". Everything else, accented letters included, is kept as it is.
[[nodiscard]] std::string logLine(std::string_view text);

} // namespace glowcast
