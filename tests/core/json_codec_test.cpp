#include "core/json_codec.h"
#include "core/log_text.h"

#include "support/recording_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>

namespace glowcast {
namespace {

Dictionary decoded(std::string_view text)
{
    RecordingLog log;
    return dictionaryFromJSON(text, log);
}

struct Reading {
    const char* reply;
    const char* result; // the decoded dictionary's printed form: every leaf is a text
};

// What the reader makes of the shapes the bridge sends, and of the ones it gets wrong on purpose.
TEST(DictionaryFromJSON, ReadsRepliesByItsOwnRules)
{
    const Reading readings[] = {
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
    for (const Reading& reading : readings)
        EXPECT_EQ(describe(decoded(reading.reply)), reading.result) << "reply: " << reading.reply;
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

    log.lines.clear();
    (void)dictionaryFromJSON("{}", log);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"parsing: ", "returnValue:{}"}));
}

// --- nesting ----------------------------------------------------------------------------------

TEST(DictionaryFromJSON, DeepNestingIsBoundedAndTheRestStaysText)
{
    std::string deep;
    for (int i = 0; i < 100; ++i)
        deep += R"({"a":)";
    deep += R"("leaf")";

    RecordingLog log;
    const Dictionary result = dictionaryFromJSON(deep, log);
    const Dictionary* level = &result;
    int levels = 0;
    while (level->dictionary("a") != nullptr && levels < 1000) {
        level = level->dictionary("a");
        ++levels;
    }
    EXPECT_EQ(levels, 32);
    ASSERT_TRUE(level->text("a").has_value());
    EXPECT_EQ(level->text("a")->substr(0, 5), R"({"a":)");
    EXPECT_NE(std::find_if(log.lines.begin(), log.lines.end(),
                           [](const std::string& line) { return line.starts_with("nesting deeper than 32"); }),
              log.lines.end());
}

TEST(DictionaryFromJSON, SurvivesAMillionBracesAndAMegabyteOfNesting)
{
    RecordingLog log;
    EXPECT_TRUE(dictionaryFromJSON(std::string(1'000'000, '{'), log).empty());

    std::string nested;
    while (nested.size() < (1U << 20))
        nested += R"({"a":)";
    log.lines.clear();
    const Dictionary result = dictionaryFromJSON(nested, log);
    EXPECT_TRUE(result.contains("a"));
    // One parsing and one returnValue line per level, plus a left part per level and the bound.
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
    EXPECT_TRUE(log.lines.back().starts_with("parsing: ") && log.lines.back().ends_with(" left out"));
}

// --- encoder ----------------------------------------------------------------------------------

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

// --- round trip -------------------------------------------------------------------------------

// Dictionaries whose keys and texts avoid every character the codec treats specially, and whose
// numbers are whole, come back from the decoder as they went in, numbers as their text.
class RoundTrip {
public:
    explicit RoundTrip(unsigned seed) : m_random(seed) {}

    // Fills in what the decoder should give back alongside the dictionary to encode.
    void make(Dictionary& sent, Dictionary& expected, int depth)
    {
        // Nested dictionaries are never empty: an empty object that ends a text comes back as an
        // empty text, which is the reader's documented way and not a loss.
        const int entries = pick(depth == 0 ? 0 : 1, 5);
        for (int i = 0; i < entries; ++i) {
            const std::string key = word(1);
            switch (pick(0, depth < 3 ? 3 : 2)) {
            case 0: {
                const std::string text = word(0);
                sent.set(key, text);
                // A text that would be written bare comes back as itself too.
                expected.set(key, text);
                break;
            }
            case 1: {
                const int number = pick(-100000, 100000);
                sent.set(key, number);
                expected.set(key, std::to_string(number));
                break;
            }
            case 2: {
                const bool flag = pick(0, 1) == 1;
                sent.set(key, flag ? "true" : "false");
                expected.set(key, flag ? "true" : "false");
                break;
            }
            default: {
                Dictionary nestedSent;
                Dictionary nestedExpected;
                make(nestedSent, nestedExpected, depth + 1);
                sent.set(key, std::move(nestedSent));
                expected.set(key, std::move(nestedExpected));
                break;
            }
            }
        }
    }

private:
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(m_random); }

    std::string word(int minimum)
    {
        static constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyzABCXYZ0123456789 -_./#?!=+";
        std::string text;
        const int length = pick(minimum, 12);
        for (int i = 0; i < length; ++i)
            text += kAlphabet[static_cast<std::size_t>(pick(0, static_cast<int>(kAlphabet.size()) - 1))];
        // Spaces at either end are trimmed by the reader, as the bridge's own replies never have them.
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        while (!text.empty() && text.front() == ' ')
            text.erase(0, 1);
        return text.empty() && minimum > 0 ? "k" : text;
    }

    std::mt19937 m_random;
};

TEST(JSONCodec, DecoderTakesBackWhatTheEncoderWrote)
{
    for (unsigned seed = 0; seed < 500; ++seed) {
        RoundTrip trip(seed);
        Dictionary sent;
        Dictionary expected;
        trip.make(sent, expected, 0);
        const std::string text = JSONFromDictionary(sent);
        const Dictionary back = decoded(text);
        EXPECT_EQ(back, expected) << "seed " << seed << ": " << text << " came back as " << describe(back);
    }
}

} // namespace
} // namespace glowcast
