#include "core/json/json_codec.h"
#include "core/json/value.h"
#include "core/text/log_text.h"
#include "core/text/url_text.h"
#include "support/recording_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <tuple>

namespace glowcast {
namespace {

// What the reader makes of the shapes the bridge sends, and of the ones it gets wrong on purpose: each
// reply, and the decoded dictionary's printed form (every leaf is a text).
TEST(DictionaryFromJSON, ReadsRepliesByItsOwnRules)
{
    const std::pair<const char*, const char*> readings[] = {
        // a lamp list: only the comma between the lamps stands at the top level
        {R"({"1":{"state":{"on":true,"bri":144,"xy":[0.5128,0.4147],"level":1},"name":"Lamp 1"},)"
         R"("2":{"state":{"on":false,"bri":0,"xy":[0.3,0.3],"level":1},"name":"Lamp 2"}})",
         R"({"1":{"state":{"on":"true","bri":"144","xy":"[0.5128,0.4147]","level":"1"},"name":"Lamp 1"},)"
         R"("2":{"state":{"on":"false","bri":"0","xy":"[0.3,0.3]","level":"1"},"name":"Lamp 2"}})"},
        {R"([{"success":{"username":"1a2b3c"}}])", R"({"success":{"username":"1a2b3c"}})"},
        {R"([{"id":"0017","internalipaddress":"192.168.1.20"}])",
         R"({"id":"0017","internalipaddress":"192.168.1.20"})"},
        // outer trim: eats a closing list or empty object at the very end, stops at white space
        {"", "{}"},
        {"[]", "{}"},
        {"}}}{{{", "{}"},
        {R"({"xy":[0.3,0.3]})", R"({"xy":"[0.3,0.3"})"},
        {R"({"xy":[0.3,0.3],"n":"1"})", R"({"xy":"[0.3,0.3]","n":"1"})"},
        {R"({"p":{}})", R"({"p":""})"},
        {R"({"p":{},"q":"1"})", R"({"p":{},"q":"1"})"},
        {R"( {"a":"1"})", R"({"{"a":"1"})"},
        {"{\"a\":\"1\"}\n", "{\"a\":\"1\"}\n\"}"},
        // pieces lose spaces and quotes at their ends, nothing else
        {R"({"a": 1, "b": 2})", R"({"a":"1","b":"2"})"},
        {"{\"a\":\t1}", "{\"a\":\"\t1\"}"},
        // separation: quotes, lists and objects hide commas; the list state is a flag, not a count
        {R"({"name":"a,b"})", R"({"name":"a,b"})"},
        {R"({"g":[[1,2],[3,4]],"n":"x"})", R"({"g":"[[1,2]","n":"x"})"},
        {R"({"name":"a|b","id":"1"})", R"({"name":"a","id":"1"})"},
        {R"({"name":"a\"b","id":"1"})", R"({"name":"a\"b","id":"1"})"},
        // a list of objects: the depth goes below zero and every later comma separates
        {R"([{"id":"a1","internalipaddress":"x1"},{"id":"b2","internalipaddress":"x2"}])",
         R"({"id":"a1","internalipaddress":"x2","{"id":"b2"})"},
        {R"([{"success":{"k":"1"}},{"error":{"type":"7"}}])", R"({"success":{"k":"1"},"{"error":{"type":"7"}})"},
        // splitting: the first colon only; pieces without one are skipped; later keys replace
        {R"({"name":"a:b"})", R"({"name":"a:b"})"},
        {R"({"a:b":"c"})", R"({"a":"b":"c"})"},
        {R"({"a":"1",nonsense,,"b":"2"})", R"({"a":"1","b":"2"})"},
        {R"({"on":true,"none":null,"n":-1.5,"n":"again"})", R"({"on":"true","none":"null","n":"again"})"},
        // nesting: any value that starts with a brace, quoted or not
        {R"({"name":"{x}"})", R"({"name":{}})"},
    };
    for (const auto& [reply, result] : readings) {
        RecordingLog log;
        EXPECT_EQ(describe(dictionaryFromJSON(reply, log)), result) << "reply: " << reply;
    }
}

TEST(DictionaryFromJSON, LogsItsWorkingInOrderForAnErrorReport)
{
    RecordingLog log;
    (void)dictionaryFromJSON(R"([{"error":{"code":1,"where":"/","description":"not paired"}}])", log);
    const std::vector<std::string> expected = {
        R"(parsing: "error":{"code":1,"where":"/","description":"not paired")",
        "left part 'error'",
        R"(parsing: "code":1|"where":"/"|"description":"not paired)",
        "left part 'code'",
        "left part 'where'",
        "left part 'description'",
        R"(returnValue:{"code":"1","where":"/","description":"not paired"})",
        R"(returnValue:{"error":{"code":"1","where":"/","description":"not paired"}})",
    };
    EXPECT_EQ(log.lines, expected);
}

TEST(DictionaryFromJSON, NestingIsBoundedAndTheRestStaysText)
{
    std::string deep;
    for (int i = 0; i < 100; ++i)
        deep += R"({"a":)";
    deep += R"("leaf")";

    RecordingLog log;
    const Dictionary result = dictionaryFromJSON(deep, log);
    const Dictionary* level = &result;
    int levels = 0;
    for (; level->dictionary("a") != nullptr && levels < 1000; ++levels)
        level = level->dictionary("a");
    EXPECT_EQ(levels, 32);
    EXPECT_EQ(level->text("a").value_or("").substr(0, 5), R"({"a":)");
    EXPECT_EQ(log.count("nesting deeper than 32 levels; value under 'a' kept as text"), 1);

    EXPECT_TRUE(dictionaryFromJSON(std::string(1'000'000, '{'), log).empty());
    std::string nested;
    while (nested.size() < (1U << 20))
        nested += R"({"a":)";
    log.lines.clear();
    EXPECT_TRUE(dictionaryFromJSON(nested, log).contains("a"));
    // A megabyte of nesting: one parsing and one returnValue line per level, plus a left part per level and the bound.
    EXPECT_LT(log.lines.size(), 4U * 34U);
}

// A million pieces would log a line each: one reply's working is bounded to about a megabyte.
TEST(DictionaryFromJSON, WorkingOfAHugeReplyIsBoundedInTheLog)
{
    std::string flat = R"({"1":{"name":"Desk"})";
    for (int i = 0; i < 100'000; ++i)
        flat += R"(,"a":{})";
    RecordingLog log;
    EXPECT_EQ(dictionaryFromJSON(flat + "}", log).dictionary("1")->text("name"), "Desk");
    std::size_t logged = 0;
    for (const std::string& line : log.lines)
        logged += std::min(line.size(), kLongestLogLine) + 40; // as the log writes it
    EXPECT_LE(logged, (std::size_t{1} << 20) + 100) << "a megabyte and the note of what was left out";
    // The whole text's line (4136 bytes as written) and lamp 1's four (238) leave room for 6693 pieces
    // of 156 (a left part, the empty object's parsing and returnValue) and one more left part; then
    // that piece's other 2 lines, 3 for each of the 93305 pieces after it, the last piece's left part
    // and the whole returnValue are left out.
    EXPECT_EQ(log.lines.back(), "parsing: 279919 more lines of this reply's working left out");
}

TEST(JSONFromDictionary, WritesEachKindByItsRuleAndEscapesNothing)
{
    const std::pair<Dictionary, const char*> writings[] = {
        {{{"bri", 255.0}, {"xy", "[0.640,0.330]"}}, R"({"bri":255,"xy":[0.640,0.330]})"},
        {{{"name", "Lamp 1"}, {"on", "true"}}, R"({"name":"Lamp 1","on":true})"},
        {{{"state", Dictionary{{"bri", 0}}}, {"empty", Dictionary{}}}, R"({"state":{"bri":0},"empty":{}})"},
        {{}, "{}"},
        // only the exact flags and texts that start with "[" go bare; an empty text is quoted
        {{{"a", "True"}, {"b", "false"}, {"c", "[not a list"}, {"d", " [x"}, {"e", ""}},
         R"({"a":"True","b":false,"c":[not a list,"d":" [x","e":""})"},
        {{{R"(k"\)", R"(v"\)"}}, R"({"k"\":"v"\"})"},
        // numbers: truncated toward zero, clamped to 32 bits, not-a-number written as 0
        {{{"a", 199.9}, {"b", -0.5}, {"c", -199.9}}, R"({"a":199,"b":0,"c":-199})"},
        {{{"a", 1e12}, {"b", -1e12}, {"c", std::numeric_limits<double>::infinity()}, {"d", std::nan("")}},
         R"({"a":2147483647,"b":-2147483648,"c":2147483647,"d":0})"},
        {{{"a", std::int64_t{1} << 40}, {"b", -(std::int64_t{1} << 40)}}, R"({"a":2147483647,"b":-2147483648})"},
    };
    for (const auto& [dictionary, text] : writings)
        EXPECT_EQ(JSONFromDictionary(dictionary), text);
}

TEST(DictionaryTest, KeepsTheOrderOfFirstStoringGivesNothingForAnotherKindAndPrintsInOrder)
{
    Dictionary dictionary{{"name", "Desk"}, {"state", Dictionary{{"bri", 144}}}};
    dictionary.set("on", "1");
    dictionary.set("name", true); // in place
    EXPECT_EQ(dictionary.keys(), (std::vector<std::string>{"name", "state", "on"}));
    EXPECT_EQ(dictionary.find("name")->asNumber(), std::nullopt);
    EXPECT_EQ(dictionary.text("state"), std::nullopt);
    EXPECT_EQ(dictionary.dictionary("state")->find("bri")->asNumber(), 144.0);
    EXPECT_EQ(dictionary.dictionary("on"), nullptr);
    EXPECT_NE((Dictionary{{"a", "1"}, {"b", "2"}}), (Dictionary{{"b", "2"}, {"a", "1"}}));
    EXPECT_NE((Dictionary{{"a", "1"}}), (Dictionary{{"a", 1}}));

    // The printed form quotes texts and nests in order.
    EXPECT_EQ(describe(dictionary), R"({"name":true,"state":{"bri":144},"on":"1"})");
    EXPECT_EQ(describe(Dictionary{{"bri", 255.0}, {"empty", Dictionary{}}}), R"({"bri":255,"empty":{}})");
    EXPECT_EQ(describe(Value{0.5}), "0.5");
}

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
        "h-- [::a]", "--- [::1g]", "--- %2F b", "-sp %C3%A9", "-sp bridge:065535"};
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
        {"\xC2\x80\xC2\x9F\xC2\xA0\xC2\x7F", "\\xC2\\x80\\xC2\\x9F\xC2\xA0\\xC2\\x7F"},
        // not UTF-8: a stray continuation byte, a cut sequence, an overlong form, a surrogate
        {"\x9B[31m \xE2\x82Z \xC0\xAF \xED\xA0\x80", "\\x9B[31m \\xE2\\x82Z \\xC0\\xAF \\xED\\xA0\\x80"},
        {full.substr(2) + "\xF0\x9F\x92\xA1", full.substr(2) + " ... (4 more bytes cut)"},
        {full.substr(3) + "\xF0\x9F\x92\xA1\x80", full.substr(3) + "\xF0\x9F\x92\xA1 ... (1 more bytes cut)"}};
    for (const auto& [text, line] : rows)
        EXPECT_EQ(logLine(text), line);
    const std::tuple<std::string, std::size_t, std::string> limited[] = {
        {"caf\xC3\xA9s", 4, "caf ... (3 more bytes cut)"},
        {"\xC3\xA9", 1, " ... (2 more bytes cut)"},
        {"caf\xC3\xA9s", 5, "caf\xC3\xA9 ... (1 more bytes cut)"},
        {"a\x7f\x1f b", 9, "a\\x7F\\x1F ... (2 more bytes cut)"},
        {"a\x7f\x1f b", 11, "a\\x7F\\x1F b"}};
    for (const auto& [text, limit, shown] : limited)
        EXPECT_EQ(printable(text, limit), shown);
    EXPECT_EQ(printable(std::string_view("caf\xC3\xA9", 4), 64), "caf\\xC3"); // its own bytes, never what follows
}

// Valid JSON whatever the text holds, as every writer of JSON by hand needs it: each sequence that is
// not UTF-8 is one replacement character (written "~" below), as long as the part of a character it holds.
TEST(JsonStringTest, EscapesControlCharactersAndReplacesWhatIsNotUtf8)
{
    const std::pair<std::string, std::string> rows[] = {
        {std::string("\"\\\0\x1F\n\x7F\xC2\x9B", 8), R"("\"\\\u0000\u001f\u000a\u007f\u009b")"},
        {"\xC2\xA0\xE0\xA0\x80\xED\x9F\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", "*"}, // kept: the lowest and highest
        {"\x80|\xE2\x82|\xF0\x9F\x92", R"("~|~|~")"},                              // stray, cut short, cut at the end
        {"\xC1\xBF|\xE0\x9F\xBF|\xF0\x8F\xBF\xBF", R"("~~|~~~|~~~~")"},            // overlong
        {"\xED\xA0\x80|\xF4\x90\x80\x80\xF5", R"("~~~|~~~~~")"}};                  // a surrogate, beyond U+10FFFF
    for (const auto& [text, json] : rows) {
        std::string expected;
        for (const char c : json == "*" ? "\"" + text + "\"" : json)
            expected += c == '~' ? std::string{"\xEF\xBF\xBD"} : std::string(1, c);
        EXPECT_EQ(jsonString(text), expected) << printable(text);
    }
}

} // namespace
} // namespace glowcast
