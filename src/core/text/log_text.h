#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace glowcast {

// The longest line the log writes, in bytes; what goes beyond is cut with a note of how much.
inline constexpr std::size_t kLongestLogLine = 4096;

// The form an outside text takes wherever it is shown (a log line, a window, glowcastctl's output),
// whatever a reply, a name or a file put into it: control characters (C0, DEL and C1) written as
// escapes ("\r", "\n", "\t", "\x00"), so it stays one line and cannot forge another; bytes that are
// not UTF-8 escaped the same way ("\xFF"), so no terminal takes them for controls; and at most limit
// bytes, the rest replaced by " ... (N more bytes cut)", never splitting a character. Everything
// else, accented letters included, is kept as it is.
[[nodiscard]] std::string printable(std::string_view text, std::size_t limit = kLongestLogLine);

// The form a line takes in the log.
[[nodiscard]] inline std::string logLine(std::string_view text)
{
    return printable(text, kLongestLogLine);
}

// A text as a JSON string, quotes included, valid whatever the text holds: '"' and '\' escaped,
// control characters (C0, DEL and C1) as "\u00XX", and each sequence that is not UTF-8 replaced by
// U+FFFD. Every JSON string this program writes by hand goes through here.
[[nodiscard]] std::string jsonString(std::string_view text);
void appendJsonString(std::string& out, std::string_view text);

} // namespace glowcast
