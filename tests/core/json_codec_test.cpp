#include "core/json_codec.h"

#include "fakes/recording_log.h"

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

// Every leaf of a decoded dictionary is a text, so the printed form reads like the JSON notation
// in which the bridge's replies are documented.
std::string decodedForm(std::string_view text)
{
    return describe(decoded(text));
}

// --- worked replies ---------------------------------------------------------------------------

TEST(DictionaryFromJSON, ReadsALampListWithNestedStates)
{
    EXPECT_EQ(decodedForm(R"({"1":{"state":{"on":true,"bri":144,"xy":[0.5128,0.4147],"level":1},"name":"Lamp 1"},)"
                          R"("2":{"state":{"on":false,"bri":0,"xy":[0.3,0.3],"level":1},"name":"Lamp 2"}})"),
              R"({"1":{"state":{"on":"true","bri":"144","xy":"[0.5128,0.4147]","level":"1"},"name":"Lamp 1"},)"
              R"("2":{"state":{"on":"false","bri":"0","xy":"[0.3,0.3]","level":"1"},"name":"Lamp 2"}})");
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

TEST(DictionaryFromJSON, ReadsPairingAndPortalReplies)
{
    const Dictionary success = decoded(R"([{"success":{"username":"1a2b3c4d5e"}}])");
    ASSERT_NE(success.dictionary("success"), nullptr);
    EXPECT_EQ(success.dictionary("success")->text("username"), "1a2b3c4d5e");

    const Dictionary portal = decoded(R"([{"id":"001788fffe0a1b2c","internalipaddress":"192.168.1.20"}])");
    EXPECT_EQ(portal.text("id"), "001788fffe0a1b2c");
    EXPECT_EQ(portal.text("internalipaddress"), "192.168.1.20");
}

// --- outer trim -------------------------------------------------------------------------------

TEST(DictionaryFromJSON, EmptyInputsGiveAnEmptyDictionaryAndLogAnEmptyText)
{
    for (const char* text : {"", "[]", "{}", "[{}]", "}}}{{{"}) {
        RecordingLog log;
        EXPECT_TRUE(dictionaryFromJSON(text, log).empty()) << text;
        ASSERT_EQ(log.lines.size(), 2U) << text;
        EXPECT_EQ(log.lines[0], "parsing: ");
        EXPECT_EQ(log.lines[1], "returnValue:{}");
    }
}

TEST(DictionaryFromJSON, OuterTrimEatsAClosingListOrObjectAtTheEnd)
{
    EXPECT_EQ(decodedForm(R"({"xy":[0.3,0.3]})"), R"({"xy":"[0.3,0.3"})");
    EXPECT_EQ(decodedForm(R"({"xy":[0.3,0.3],"n":"1"})"), R"({"xy":"[0.3,0.3]","n":"1"})");
    EXPECT_EQ(decodedForm(R"({"p":{}})"), R"({"p":""})");
    EXPECT_EQ(decodedForm(R"({"p":{},"q":"1"})"), R"({"p":{},"q":"1"})");
}

TEST(DictionaryFromJSON, WhiteSpaceStopsTheOuterTrimAndOnlySpacesAreTrimmedFromPieces)
{
    EXPECT_EQ(decodedForm(R"({"a": 1, "b": 2})"), R"({"a":"1","b":"2"})");
    // The leading space keeps the brace; the key then starts with it.
    EXPECT_EQ(decodedForm(R"( {"a":"1"})"), R"({"{"a":"1"})");
    EXPECT_EQ(decodedForm("{\"a\":\"1\"}\n"), "{\"a\":\"1\"}\n\"}");
    EXPECT_EQ(decodedForm("{\"a\":\t1}"), "{\"a\":\"\t1\"}");
}

// --- separation -------------------------------------------------------------------------------

TEST(DictionaryFromJSON, CommasInsideQuotesListsAndObjectsDoNotSeparate)
{
    EXPECT_EQ(decodedForm(R"({"name":"a,b"})"), R"({"name":"a,b"})");
    EXPECT_EQ(decodedForm(R"({"xy":[1,2],"n":"x"})"), R"({"xy":"[1,2]","n":"x"})");
    // The in-list state is a flag: the first "]" ends it, so a list of lists is cut.
    EXPECT_EQ(decodedForm(R"({"g":[[1,2],[3,4]],"n":"x"})"), R"({"g":"[[1,2]","n":"x"})");
}

TEST(DictionaryFromJSON, ABarInsideATextCutsTheValue)
{
    EXPECT_EQ(decodedForm(R"({"name":"a|b","id":"1"})"), R"({"name":"a","id":"1"})");
}

TEST(DictionaryFromJSON, AnEscapedQuoteFlipsTheQuoteStateLikeAnyOther)
{
    // After \" the comma counts as quoted, so "id" stays inside the name's piece.
    EXPECT_EQ(decodedForm(R"({"name":"a\"b","id":"1"})"), R"({"name":"a\"b","id":"1"})");
}

TEST(DictionaryFromJSON, AListOfObjectsSeparatesEverythingAfterTheFirst)
{
    EXPECT_EQ(decodedForm(R"([{"id":"a1","internalipaddress":"x1"},{"id":"b2","internalipaddress":"x2"}])"),
              R"({"id":"a1","internalipaddress":"x2","{"id":"b2"})");
    EXPECT_EQ(decodedForm(R"([{"success":{"k":"1"}},{"error":{"type":"7"}}])"),
              R"({"success":{"k":"1"},"{"error":{"type":"7"}})");
}

// --- splitting --------------------------------------------------------------------------------

TEST(DictionaryFromJSON, OnlyTheFirstColonSplitsAndPiecesWithoutOneAreSkipped)
{
    EXPECT_EQ(decodedForm(R"({"name":"a:b"})"), R"({"name":"a:b"})");
    EXPECT_EQ(decodedForm(R"({"a:b":"c"})"), R"({"a":"b":"c"})");

    RecordingLog log;
    EXPECT_EQ(describe(dictionaryFromJSON(R"({"a":"1",nonsense,,"b":"2"})", log)), R"({"a":"1","b":"2"})");
    EXPECT_EQ(log.lines.size(), 4U); // parsing, two left parts, returnValue
}

TEST(DictionaryFromJSON, LeafValuesComeBackAsTextAndLaterKeysReplaceEarlierOnes)
{
    const Dictionary result = decoded(R"({"on":true,"off":false,"none":null,"n":-1.5,"n":"again"})");
    EXPECT_EQ(describe(result), R"({"on":"true","off":"false","none":"null","n":"again"})");
}

// --- nesting ----------------------------------------------------------------------------------

TEST(DictionaryFromJSON, AQuotedTextThatStartsWithABraceIsReadAsAnObject)
{
    EXPECT_EQ(decodedForm(R"({"name":"{x}"})"), R"({"name":{}})");
}

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

// --- encoder ----------------------------------------------------------------------------------

TEST(JSONFromDictionary, WritesEachKindByItsRule)
{
    EXPECT_EQ(JSONFromDictionary({{"bri", 255.0}, {"xy", "[0.640,0.330]"}}), R"({"bri":255,"xy":[0.640,0.330]})");
    EXPECT_EQ(JSONFromDictionary({{"name", "Lamp 1"}, {"on", "true"}}), R"({"name":"Lamp 1","on":true})");
    EXPECT_EQ(JSONFromDictionary({{"devicetype", "com.tallowbrook.Glowcast"}}),
              R"({"devicetype":"com.tallowbrook.Glowcast"})");
    EXPECT_EQ(JSONFromDictionary({{"state", Dictionary{{"bri", 0}}}}), R"({"state":{"bri":0}})");
    EXPECT_EQ(JSONFromDictionary({{"state", Dictionary{}}}), R"({"state":{}})");
    EXPECT_EQ(JSONFromDictionary({}), "{}");
}

TEST(JSONFromDictionary, OnlyExactFlagsAndListTextsGoBare)
{
    EXPECT_EQ(JSONFromDictionary({{"a", "True"}, {"b", "false"}, {"c", "[not a list"}, {"d", " [x"}}),
              R"({"a":"True","b":false,"c":[not a list,"d":" [x"})");
    // An empty text is written as an empty quoted text.
    EXPECT_EQ(JSONFromDictionary({{"e", ""}}), R"({"e":""})");
}

TEST(JSONFromDictionary, EscapesNothing)
{
    EXPECT_EQ(JSONFromDictionary({{R"(k"\)", R"(v"\)"}}), R"({"k"\":"v"\"})");
}

TEST(JSONFromDictionary, TruncatesNumbersTowardZeroAndClampsToThirtyTwoBits)
{
    EXPECT_EQ(JSONFromDictionary({{"n", 199.9}}), R"({"n":199})");
    EXPECT_EQ(JSONFromDictionary({{"n", -0.5}}), R"({"n":0})");
    EXPECT_EQ(JSONFromDictionary({{"n", -199.9}}), R"({"n":-199})");
    EXPECT_EQ(JSONFromDictionary({{"n", 1e12}}), R"({"n":2147483647})");
    EXPECT_EQ(JSONFromDictionary({{"n", -1e12}}), R"({"n":-2147483648})");
    EXPECT_EQ(JSONFromDictionary({{"n", std::numeric_limits<double>::infinity()}}), R"({"n":2147483647})");
    EXPECT_EQ(JSONFromDictionary({{"n", std::nan("")}}), R"({"n":0})");
    EXPECT_EQ(JSONFromDictionary({{"n", std::int64_t{1} << 40}}), R"({"n":2147483647})");
    EXPECT_EQ(JSONFromDictionary({{"n", -(std::int64_t{1} << 40)}}), R"({"n":-2147483648})");
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
