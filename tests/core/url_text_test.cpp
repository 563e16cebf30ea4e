#include "core/url_text.h"

#include <gtest/gtest.h>

#include <string>

namespace glowcast {
namespace {

struct Text {
    std::string text;
    bool host;    // may stand as the bridge's or the portal's address
    bool segment; // may stand as a user name or a lamp id
    bool path;    // may stand as a resource path
};

// What would reach another resource, or go out other than as built, is refused.
TEST(UrlTextTest, EachTextStaysInItsOwnPartOfTheUrl)
{
    const std::string longName(254, 'a');
    const Text texts[] = {
        {"192.168.1.20", true, true, true},
        {"bridge-2.local:8080", true, true, true},
        {"[fe80::17]:80", true, false, false},
        {"1", true, true, true},
        {"x:y@z", false, true, true},
        {"(null)", false, true, true},
        {"caf%C3%A9", false, true, true},
        {"a%2Fb", false, true, true},
        {"lights/1/state", false, false, true},
        // dot segments and empty segments resolve to another resource
        {"..", false, false, false},
        {".", false, false, false},
        {"", false, false, false},
        {"1/../../../x", false, false, false},
        {"7/..", false, false, false},
        {"lights//state", false, false, false},
        {"/lights", false, false, false},
        // escapes that a URL layer rewrites: unreserved characters (%2E is "."), lower-case hex
        {"%2E%2E", false, false, false},
        {"1%41", false, false, false},
        {"a%2fb", false, false, false},
        {"1%2", false, false, false},
        // characters that end or break the part they stand in
        {"evil host", false, false, false},
        {"a\r\nHost: b", false, false, false},
        {"1#x", false, false, false},
        {"1?on=true", false, false, false},
        {"user@bridge", false, true, true},
        {"bridge/x", false, false, true},
        {"%41", false, false, false},
        // ports and lengths
        {"bridge:0", false, true, true},
        {"bridge:65536", false, true, true},
        {"bridge:", false, true, true},
        {longName, false, true, true},
        {longName.substr(1), true, true, true},
    };
    for (const Text& row : texts) {
        SCOPED_TRACE(printable(row.text));
        EXPECT_EQ(isUrlHost(row.text), row.host);
        EXPECT_EQ(isUrlSegment(row.text), row.segment);
        EXPECT_EQ(isUrlPath(row.text), row.path);
    }
}

} // namespace
} // namespace glowcast
