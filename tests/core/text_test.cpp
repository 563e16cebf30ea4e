#include "core/log_text.h"
#include "core/url_text.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace glowcast {
namespace {

// What would reach another resource, or go out other than as built, is refused. Each row: whether
// the text may stand as a host ("h"), as one path segment, a user name or a lamp id ("s"), and as
// a resource path ("p"), then the text.
TEST(UrlTextTest, EachTextStaysInItsOwnPartOfTheUrl)
{
    // clang-format off
    const std::string rows[] = {
        "hsp 192.168.1.20", "hsp bridge-2.local:8080", "hsp 10.0.0.2:65535", "h-- [fe80::17]:80", "-sp x:y@z",
        "-sp A-b_c.~1", "-sp caf%C3%A9", "--p lights/1/state", "--- ..", "--- .", "--- ", "--- 1/../../../x",
        "--- lights//state", "--- %2E%2E", "--- 1%41", "--- a%2fb", "--- 1%2", "--- evil host", "--- a\r\nb",
        "--- 1#x", "--- 1?on=1", "--- %G1", "-sp bridge:0", "-sp bridge:65536", "-sp bridge:", "--- []", "h-- [::1]",
        "h-- [::a]", "--- [::1g]", "--- %2F b"};
    // clang-format on
    for (const std::string& row : rows) {
        const std::string text = row.substr(4);
        SCOPED_TRACE(printable(text));
        EXPECT_EQ(isUrlHost(text), row[0] == 'h');
        EXPECT_EQ(isUrlSegment(text), row[1] == 's');
        EXPECT_EQ(isUrlPath(text), row[2] == 'p');
    }
    EXPECT_TRUE(isUrlHost(std::string(253, 'a')));
    EXPECT_FALSE(isUrlHost(std::string(254, 'a'))) << "longer than a host name may be";
}

// One call is one line of at most a few KiB (or the limit asked for), whatever the text holds; a cut
// keeps characters whole.
TEST(PrintableTest, EscapesControlCharactersAndCutsLongTextWithANote)
{
    const std::string full(kLongestLogLine - 1, 'x');
    const std::pair<std::string, std::string> rows[] = {
        {"Desk\r\n2026-01-01 00:00:00.000 glowcast[1] FORGED", "Desk\\r\\n2026-01-01 00:00:00.000 glowcast[1] FORGED"},
        {std::string("a\0b\tc\x1b[2J\x7f \xC2\x9B, K\xC3\xBC", 18), "a\\x00b\\tc\\x1B[2J\\x7F \\xC2\\x9B, K\xC3\xBC"},
        {full + "x", full + "x"},
        {full + "\n", full + " ... (1 more bytes cut)"},
        {full + "\xC3\xA9!", full + " ... (3 more bytes cut)"},
        {"\xC2\x80\xC2\x9F\xC2\xA0\xC2\x7F", "\\xC2\\x80\\xC2\\x9F\xC2\xA0\xC2\\x7F"},
        {full.substr(2) + "\xF0\x9F\x92\xA1", full.substr(2) + " ... (4 more bytes cut)"},
        {full.substr(3) + "\xF0\x9F\x92\xA1\x80", full.substr(3) + "\xF0\x9F\x92\xA1 ... (1 more bytes cut)"}};
    for (const auto& [text, line] : rows)
        EXPECT_EQ(logLine(text), line);
    const std::tuple<std::string, std::size_t, std::string> limited[] = {
        {"caf\xC3\xA9s", 4, "caf ... (3 more bytes cut)"},
        {"caf\xC3\xA9s", 5, "caf\xC3\xA9 ... (1 more bytes cut)"},
        {"a\x7f\x1f b", 9, "a\\x7F\\x1F ... (2 more bytes cut)"},
        {"a\x7f\x1f b", 11, "a\\x7F\\x1F b"}};
    for (const auto& [text, limit, shown] : limited)
        EXPECT_EQ(printable(text, limit), shown);
}

} // namespace
} // namespace glowcast
