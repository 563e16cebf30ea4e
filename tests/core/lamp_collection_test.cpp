#include "core/bridge/lamp_list.h"
#include "core/control/lamp_collection.h"
#include "core/json/json_codec.h"
#include "core/lamps/lamp_plan.h"
#include "core/lamps/selection_merge.h"
#include "support/fake_platform.h"
#include "support/printing.h"
#include "support/recording_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <ranges>
#include <string>
#include <tuple>
#include <vector>

namespace glowcast {
namespace {

using Lamps = std::vector<LampEntry>;
using Strings = std::vector<std::string>;

// Lamps a..e as a set-up reads them, each off; the saved selection's first records enable b, d and e.
class LampCollectionTest : public ::testing::Test {
protected:
    RecordingLog log;
    FakeLampListView view;
    LampCollection lamps{log};

    void SetUp() override
    {
        lamps.setView(&view);
        lamps.fill({{"a", "A"}, {"b", "B"}, {"c", "C"}, {"d", "D"}, {"e", "E"}},
                   Lamps{{"b", "", true}, {"d", "", true}, {"d", "", false}, {"e", "Old", true}, {"z", "", true}});
    }
};

TEST_F(LampCollectionTest, AnswersFromTheCollectionInItsOrderAndSwitchesALamp)
{
    EXPECT_EQ(lamps.enabledCount(), 3);
    EXPECT_EQ(log.lines, (Strings{"enabledcount returning 3"}));
    EXPECT_EQ(lamps.entries()[4], (LampEntry{"e", "E", true}));

    // Switching a lamp tells its row only when its state changes.
    log.lines.clear();
    EXPECT_EQ(lamps.setLampEnabled("a", true), SwitchResult::Done);
    EXPECT_EQ(lamps.setLampEnabled("a", true), SwitchResult::Done);
    EXPECT_EQ(lamps.setLampEnabled("d", false), SwitchResult::Done);
    EXPECT_EQ(lamps.setLampEnabled("z", true), SwitchResult::UnknownLamp);
    EXPECT_TRUE(lamps.entries()[0].enabled);
    EXPECT_FALSE(lamps.asSetUp()[0].enabled) << "what the set-up built stays for the save at the end";
    EXPECT_EQ(log.lines, (Strings{"setting enabled", "unsetting enabled"}));
    EXPECT_EQ(view.told, (Strings{"refill", "switched 0", "switched 3"}));
}

TEST_F(LampCollectionTest, LampsComeAndGoAsOneChangeOfRowsEach)
{
    // Insert at, erase from, or clear; where; how many inserted ("x", "y"...) or erased; the ids after;
    // what the view is told after the fill's refill.
    const std::tuple<char, std::size_t, std::size_t, std::string, Strings> rows[] = {
        {'i', 1, 2, "axybcde", {"insert 1+2"}},
        {'i', 9, 1, "abcdex", {"insert 5+1"}}, // past the end goes last
        {'i', 0, 0, "abcde", {}},
        {'e', 1, 2, "ade", {"remove 1+2"}},
        {'e', 3, 9, "abc", {"remove 3+2"}},
        {'e', 5, 1, "abcde", {}},
        {'c', 0, 0, "", {"refill"}},
    };
    for (const auto& [change, at, count, after, told] : rows) {
        SCOPED_TRACE(after);
        SetUp();
        view.told.clear();
        Lamps added;
        for (std::size_t k = 0; change == 'i' && k < count; ++k)
            added.push_back({std::string(1, "xy"[k]), "X"});
        change == 'i' ? lamps.insert(at, added) : change == 'e' ? lamps.erase(at, count) : lamps.clear();
        std::string ids;
        for (const LampEntry& lamp : lamps.entries())
            ids += lamp.id;
        EXPECT_EQ(ids, after);
        EXPECT_EQ(view.told, told);
    }
}

// The save at quit keeps another program's choice for each lamp this run left as it found it.
TEST(SelectionMergeTest, TakesTheSavedChoiceOnlyWhereThisRunChangedNothing)
{
    const Lamps base{{"1", "A", true}, {"2", "B", false}, {"3", "C", false}};
    const Lamps ours{{"1", "A", false}, {"2", "B", false}, {"3", "C", false}, {"4", "D", true}};
    const Lamps saved{{"1", "", true}, {"2", "", true}, {"4", "", false}};
    EXPECT_EQ(mergeSelection(base, ours, saved),
              (Lamps{{"1", "A", false}, {"2", "B", true}, {"3", "C", false}, {"4", "D", true}}));
    EXPECT_EQ(mergeSelection(base, ours, std::nullopt), ours);
}

TEST(LampPlanTest, TheKthEnabledLampTakesColourKAndThosePastTheColoursTheZeroBody)
{
    const Colour red{1, 0, 0};
    const Colour green{0, 1, 0};
    const Lamps lamps{{"a", "", false}, {"b", "", true}, {"c", "", false}, {"d", "", true}, {"e", "", true}};
    using Plan = std::vector<LampAssignment>;
    EXPECT_EQ(planLamps(lamps, std::vector{red, green, red, green}), (Plan{{"b", red}, {"d", green}, {"e", red}}));
    EXPECT_EQ(planLamps(lamps, std::vector{green}), (Plan{{"b", green}, {"d", {}}, {"e", {}}}));
    EXPECT_EQ(planLamps(lamps, {}), (Plan{{"b", {}}, {"d", {}}, {"e", {}}}));
}

TEST(LampListTest, KeepsWhatCanBeALampAndBoundsTheRest)
{
    // 258 lamps, the first named with 65 two-byte characters: 256 are kept, the first with 64 of them.
    std::string name;
    for (int i = 0; i < 65; ++i)
        name += "\xC3\xA9";
    std::string many = R"({"1":{"name":")" + name + R"("})";
    Lamps kept{{"1", name.substr(0, 128), false}};
    for (int i = 2; i <= 258; ++i) {
        many += R"(,")" + std::to_string(i) + R"(":{"name":"n"})";
        if (i <= 256)
            kept.push_back({std::to_string(i), "n", false});
    }
    const Strings cuts{"lamp 1 has a name longer than 64 characters, cut to '" + kept[0].name + "'",
                       "the bridge lists more than 256 lamps; lamp 257 and those after it left out"};
    // What, the reply, the lamps read (none: the reply is no lamp list), the reader's own lines.
    const std::string longId(65, 'x');
    const std::string evil = R"({"..":{"name":"U"},")" + longId + R"(":{"name":"L"},"1":{"name":"Desk"}})";
    const Lamps desk{{"1", "Desk", false}};
    // clang-format off
    const std::tuple<const char*, std::string, std::optional<Lamps>, Strings> rows[] = {
        {"lamps in the reply's order", R"({"2":{"state":{"on":true},"name":"Hall"},"1":{"name":"Desk"}})", Lamps{{"2", "Hall", false}, {"1", "Desk", false}}, {}},
        {"entries without a name", R"({"1":{"name":"Desk"},"2":"on","3":{"type":"plug"},"4":{"name":"Hall"}})", Lamps{{"1", "Desk", false}, {"4", "Hall", false}}, {"lamp 2 has no name, left out", "lamp 3 has no name, left out"}},
        {"ids that would reach another resource", evil, desk, {"lamp '..' has an id that cannot stand in a URL path, left out", "lamp '" + longId + "' has an id that cannot stand in a URL path, left out"}},
        {"more and longer than a bridge has", many + "}", kept, cuts},
        {"an id and a name as long as they may be", R"({")" + std::string(64, 'i') + R"(":{"name":")" + name.substr(2) + R"("}})", Lamps{{std::string(64, 'i'), name.substr(2), false}}, {}},
        {"a bridge without lamps", " {} ", Lamps{}, {}},
        {"a list", "[]", std::nullopt, {}},
        {"a lamp list run on", R"({"1":{"name":"Desk"}}])", std::nullopt, {}},
        {"garbage in braces", "{\xff\xfe<<not json>>}", std::nullopt, {}},
        {"an object without lamps", R"({"1":"on","2":{"type":"plug"}})", std::nullopt, {"lamp 1 has no name, left out", "lamp 2 has no name, left out"}},
    };
    // clang-format on
    for (const auto& [what, reply, read, lines] : rows) {
        SCOPED_TRACE(what);
        RecordingLog log;
        EXPECT_EQ(lampsFromLightsReply(reply, log), read);
        // The reader's own lines follow the codec's working, when it decoded the reply.
        RecordingLog codec;
        (void)dictionaryFromJSON(reply, codec);
        const bool decoded = std::ranges::equal(codec.lines, log.lines | std::views::take(codec.lines.size()));
        EXPECT_EQ(Strings(log.lines.begin() + (decoded ? std::ssize(codec.lines) : 0), log.lines.end()), lines);
    }
}

} // namespace
} // namespace glowcast
