#include "core/json_codec.h"
#include "core/log_text.h"
#include "core/value.h"
#include "support/recording_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

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
    const Dictionary result =
        dictionaryFromJSON(R"([{"error":{"code":1,"where":"/","description":"not paired"}}])", log);

    EXPECT_EQ(describe(result), R"({"error":{"code":"1","where":"/","description":"not paired"}})");
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
    ASSERT_TRUE(level->text("a").has_value());
    EXPECT_EQ(level->text("a")->substr(0, 5), R"({"a":)");
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
    EXPECT_EQ(describe(std::optional<std::string>{}), "(null)");
    EXPECT_EQ(describe(std::optional<std::string>{"x"}), "x");
}

} // namespace
} // namespace glowcast
