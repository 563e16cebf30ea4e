#include "core/value.h"

#include <gtest/gtest.h>

namespace glowcast {
namespace {

TEST(DictionaryTest, KeepsTheOrderOfFirstStoringAndGivesNothingForAnotherKind)
{
    Dictionary dictionary{{"name", "Desk"}, {"state", Dictionary{{"bri", 144}}}};
    dictionary.set("on", "1");
    dictionary.set("name", true); // in place
    EXPECT_EQ(dictionary.keys(), (std::vector<std::string>{"name", "state", "on"}));
    EXPECT_EQ(dictionary.find("name")->asBool(), true);
    EXPECT_EQ(dictionary.find("name")->asNumber(), std::nullopt);
    EXPECT_EQ(dictionary.find("missing"), nullptr);
    EXPECT_EQ(dictionary.text("on"), "1");
    EXPECT_EQ(dictionary.text("state"), std::nullopt);
    EXPECT_EQ(dictionary.text("missing"), std::nullopt);
    EXPECT_EQ(dictionary.dictionary("state")->find("bri")->asNumber(), 144.0);
    EXPECT_EQ(dictionary.dictionary("on"), nullptr);
    EXPECT_NE((Dictionary{{"a", "1"}, {"b", "2"}}), (Dictionary{{"b", "2"}, {"a", "1"}}));
    EXPECT_NE((Dictionary{{"a", "1"}}), (Dictionary{{"a", 1}}));
}

TEST(DictionaryTest, PrintedFormQuotesTextsAndNestsInOrder)
{
    const Dictionary dictionary{{"id", "1"},
                                {"bri", 255.0},
                                {"level", 3},
                                {"on", false},
                                {"state", Dictionary{{"xy", "[0.3,0.3]"}}},
                                {"empty", Dictionary{}}};
    EXPECT_EQ(describe(dictionary),
              R"({"id":"1","bri":255,"level":3,"on":false,"state":{"xy":"[0.3,0.3]"},"empty":{}})");
    EXPECT_EQ(describe(Value{0.5}), "0.5");
    EXPECT_EQ(describe(std::optional<std::string>{}), "(null)");
    EXPECT_EQ(describe(std::optional<std::string>{"x"}), "x");
}

} // namespace
} // namespace glowcast
