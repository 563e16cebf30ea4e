#include "core/value.h"

#include <gtest/gtest.h>

namespace glowcast {
namespace {

TEST(DictionaryTest, StoringUnderAPresentKeyReplacesInPlaceAndKeepsOrder)
{
    Dictionary dictionary;
    dictionary.set("b", "1");
    dictionary.set("a", 2);
    dictionary.set("b", true);
    EXPECT_EQ(dictionary.size(), 2u);
    EXPECT_EQ(dictionary.keys(), (std::vector<std::string>{"b", "a"}));
    EXPECT_EQ(dictionary.find("b")->asBool(), true);
    EXPECT_EQ(dictionary.find("a")->asNumber(), 2.0);
    EXPECT_EQ(dictionary.find("c"), nullptr);
}

TEST(DictionaryTest, TypedLookupsGiveNothingForAnotherKind)
{
    const Dictionary dictionary{{"name", "Desk"}, {"state", Dictionary{{"bri", 144}}}, {"on", true}};
    EXPECT_EQ(dictionary.text("name"), "Desk");
    EXPECT_EQ(dictionary.text("state"), std::nullopt);
    EXPECT_EQ(dictionary.text("missing"), std::nullopt);
    ASSERT_NE(dictionary.dictionary("state"), nullptr);
    EXPECT_EQ(dictionary.dictionary("state")->find("bri")->asNumber(), 144.0);
    EXPECT_EQ(dictionary.dictionary("name"), nullptr);
    EXPECT_EQ(dictionary.find("on")->asNumber(), std::nullopt);
}

TEST(DictionaryTest, PrintedFormQuotesTextsAndNestsInOrder)
{
    const Dictionary dictionary{{"id", "1"}, {"bri", 255.0}, {"level", 3}, {"on", false},
                                {"state", Dictionary{{"xy", "[0.3,0.3]"}}}, {"empty", Dictionary{}}};
    EXPECT_EQ(describe(dictionary),
              R"({"id":"1","bri":255,"level":3,"on":false,"state":{"xy":"[0.3,0.3]"},"empty":{}})");
    EXPECT_EQ(describe(Dictionary{}), "{}");
    EXPECT_EQ(describe(Value{0.5}), "0.5");
    EXPECT_EQ(describe(std::optional<std::string>{}), "(null)");
    EXPECT_EQ(describe(std::optional<std::string>{"x"}), "x");
}

TEST(DictionaryTest, EqualityLooksAtOrderKindsAndValues)
{
    EXPECT_EQ((Dictionary{{"a", "1"}, {"b", "2"}}), (Dictionary{{"a", "1"}, {"b", "2"}}));
    EXPECT_NE((Dictionary{{"a", "1"}, {"b", "2"}}), (Dictionary{{"b", "2"}, {"a", "1"}}));
    EXPECT_NE((Dictionary{{"a", "1"}}), (Dictionary{{"a", 1}}));
}

}  // namespace
}  // namespace glowcast
