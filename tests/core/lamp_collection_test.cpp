#include "core/lamp_collection.h"
#include "core/lamp_plan.h"
#include "core/selection_merge.h"
#include "support/fake_platform.h"
#include "support/printing.h"
#include "support/recording_log.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
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
    [[nodiscard]] std::string ids() const
    {
        std::string out;
        for (const LampEntry& lamp : lamps.entries())
            out += lamp.id;
        return out;
    }
};

TEST_F(LampCollectionTest, AnswersFromTheCollectionInItsOrder)
{
    EXPECT_EQ(lamps.enabledCount(), 3);
    EXPECT_EQ(lamps.getIDofNthEnabled(1), "d");
    EXPECT_EQ(lamps.getIDofNthEnabled(2), "e");
    EXPECT_EQ(lamps.getIDofNthEnabled(3), std::nullopt);
    EXPECT_EQ(lamps.getIDofNthEnabled(-1), std::nullopt);
    EXPECT_EQ(log.lines,
              (Strings{"enabledcount returning 3", "getIDofNthEnabled returning d", "getIDofNthEnabled returning e"}));
    EXPECT_EQ(lamps.entries()[4], (LampEntry{"e", "E", true}));
    EXPECT_EQ(view.told, Strings{"refill"});
}

TEST_F(LampCollectionTest, SwitchingALampTellsItsRowOnlyWhenItsStateChanges)
{
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
    struct Row {
        char change; // insert at, erase from, or clear
        std::size_t at;
        std::size_t count; // inserted ("x", "y"...) or erased
        std::string ids;
        Strings told; // after the fill's refill
    };
    const std::vector<Row> rows = {
        {'i', 1, 2, "axybcde", {"insert 1+2"}},
        {'i', 9, 1, "abcdex", {"insert 5+1"}}, // past the end goes last
        {'i', 0, 0, "abcde", {}},
        {'e', 1, 2, "ade", {"remove 1+2"}},
        {'e', 3, 9, "abc", {"remove 3+2"}},
        {'e', 5, 1, "abcde", {}},
        {'c', 0, 0, "", {"refill"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.ids);
        SetUp();
        view.told.clear();
        Lamps added;
        for (std::size_t k = 0; row.change == 'i' && k < row.count; ++k)
            added.push_back({std::string(1, "xy"[k]), "X"});
        row.change == 'i'   ? lamps.insert(row.at, added)
        : row.change == 'e' ? lamps.erase(row.at, row.count)
                            : lamps.clear();
        EXPECT_EQ(ids(), row.ids);
        EXPECT_EQ(view.told, row.told);
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
    EXPECT_EQ(planLamps({}, std::vector{red}), Plan{});
}

} // namespace
} // namespace glowcast
