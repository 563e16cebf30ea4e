#include "core/log_text.h"

#include <gtest/gtest.h>

#include <string>

namespace glowcast {
namespace {

// One call is one line of at most a few KiB, whatever the text holds.
TEST(LogLineTest, EscapesControlCharactersAndCutsLongTextWithANote)
{
    const std::string full(kLongestLogLine, 'x');
    const struct {
        std::string text;
        std::string line;
    } rows[] = {
        {"collection: ({\"id\":\"1\",\"name\":\"K\xC3\xBC"
         "che\"})",
         "collection: ({\"id\":\"1\",\"name\":\"K\xC3\xBC"
         "che\"})"},
        {"Desk\r\n2026-01-01 00:00:00.000 glowcast[1] FORGED", "Desk\\r\\n2026-01-01 00:00:00.000 glowcast[1] FORGED"},
        {std::string("a\0b\tc\x1b[2J\x7f", 10), "a\\x00b\\tc\\x1B[2J\\x7F"},
        {"C1 \xC2\x9B"
         "2J, not C1 \xC2\xA0",
         "C1 \\xC2\\x9B2J, not C1 \xC2\xA0"},
        {full, full},
        {full + "tail", full + " ... (4 more bytes cut)"},
        {full.substr(1) + "\n", full.substr(1) + " ... (1 more bytes cut)"},
        {full.substr(1) + "\xC3\xA9!", full.substr(1) + " ... (3 more bytes cut)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text.substr(0, 40));
        EXPECT_EQ(logLine(row.text), row.line);
    }
}

} // namespace
} // namespace glowcast
