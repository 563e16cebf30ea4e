#include "core/log_text.h"

#include <gtest/gtest.h>

#include <string>

namespace glowcast {
namespace {

// One call is one line of at most a few KiB, whatever the text holds; a cut keeps characters whole.
TEST(LogLineTest, EscapesControlCharactersAndCutsLongTextWithANote)
{
    const std::string full(kLongestLogLine - 1, 'x');
    const std::pair<std::string, std::string> rows[] = {
        {"Desk\r\n2026-01-01 00:00:00.000 glowcast[1] FORGED", "Desk\\r\\n2026-01-01 00:00:00.000 glowcast[1] FORGED"},
        {std::string("a\0b\tc\x1b[2J\x7f \xC2\x9B, K\xC3\xBC", 18), "a\\x00b\\tc\\x1B[2J\\x7F \\xC2\\x9B, K\xC3\xBC"},
        {full + "x", full + "x"},
        {full + "\n", full + " ... (1 more bytes cut)"},
        {full + "\xC3\xA9!", full + " ... (3 more bytes cut)"}};
    for (const auto& [text, line] : rows)
        EXPECT_EQ(logLine(text), line);
}

} // namespace
} // namespace glowcast
