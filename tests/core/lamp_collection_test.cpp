#include "core/lamp_collection.h"
#include "core/lamp_plan.h"
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

TEST(LampCollectionFillTest, EachLampTakesItsFirstSavedChoiceAndANewOneIsOff)
{
    struct Row {
        const char* what;
        std::optional<Lamps> saved;
        Lamps filled;
    };
    const std::vector<Row> rows = {
        {"first start", std::nullopt, {{"1", "Lamp 1", false}, {"2", "Lamp 2", false}, {"3", "Lamp 3", false}}},
        {"first record wins, names are the bridge's",
         Lamps{{"2", "", false}, {"3", "Old", true}, {"3", "", false}, {"10", "", true}},
         {{"1", "Lamp 1", false}, {"2", "Lamp 2", false}, {"3", "Lamp 3", true}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        RecordingLog log;
        LampCollection lamps{log};
        EXPECT_FALSE(lamps.filled());
        lamps.fill({{"1", "Lamp 1", false}, {"2", "Lamp 2", false}, {"3", "Lamp 3", false}}, row.saved);
        EXPECT_TRUE(lamps.filled());
        EXPECT_EQ(lamps.entries(), row.filled);
        lamps.clear();
        EXPECT_TRUE(lamps.entries().empty());
        EXPECT_EQ(lamps.asSetUp(), row.filled) << "the save at the end still compares with the set-up's";
    }
}

// Lamps a..e; b, d and e enabled.
class LampCollectionTest : public ::testing::Test {
protected:
    RecordingLog log;
    FakeLampTableView table;
    LampCollection lamps{log};

    void SetUp() override
    {
        lamps.fill({{"a", "A", false}, {"b", "B", false}, {"c", "C", false}, {"d", "D", false}, {"e", "E", false}},
                   Lamps{{"b", "", true}, {"d", "", true}, {"e", "", true}});
    }
};

TEST_F(LampCollectionTest, TheDataSourceAnswersFromTheCollectionInItsOrder)
{
    EXPECT_EQ(lamps.enabledCount(), 3);
    EXPECT_EQ(lamps.getIDofNthEnabled(0), "b");
    EXPECT_EQ(lamps.getIDofNthEnabled(2), "e");
    EXPECT_EQ(lamps.getIDofNthEnabled(3), std::nullopt);
    EXPECT_EQ(lamps.getIDofNthEnabled(-1), std::nullopt);
    EXPECT_EQ(log.lines,
              (Strings{"enabledcount returning 3", "getIDofNthEnabled returning b", "getIDofNthEnabled returning e"}));
    EXPECT_EQ(lamps.numberOfRowsInTableView(table), 5);
    EXPECT_EQ(lamps.yesCell(), (ButtonCell{1, ""}));
    EXPECT_EQ(lamps.noCell(), (ButtonCell{0, ""}));
    EXPECT_EQ(std::get<const ButtonCell*>(lamps.objectValueForTableColumn(table, "enabled", 1)), &lamps.yesCell());
    EXPECT_EQ(std::get<const ButtonCell*>(lamps.objectValueForTableColumn(table, "enabled", 0)), &lamps.noCell());
    EXPECT_EQ(std::get<std::string>(lamps.objectValueForTableColumn(table, "name", 1)), "B");
    for (const auto& [column, row] : {std::pair{"colour", 1}, {"name", 5}, {"name", -1}})
        EXPECT_EQ(std::get<std::string>(lamps.objectValueForTableColumn(table, column, row)), "");
}

// The value passed is not looked at: "on" for an enabled lamp still turns it off.
TEST_F(LampCollectionTest, EveryCheckBoxCallFlipsTheLampAndOtherEditsChangeNothingButReload)
{
    lamps.setObjectValue(table, &lamps.yesCell(), "enabled", 0);
    EXPECT_TRUE(lamps.entries()[0].enabled);
    EXPECT_EQ(lamps.getIDofNthEnabled(0), "a");
    lamps.setObjectValue(table, &lamps.yesCell(), "enabled", 0);
    EXPECT_FALSE(lamps.entries()[0].enabled);
    EXPECT_EQ(log.lines, (Strings{"setting enabled", "getIDofNthEnabled returning a", "unsetting enabled"}));

    const Lamps before = lamps.entries();
    lamps.setObjectValue(table, std::string{"Renamed"}, "name", 2);
    lamps.setObjectValue(table, std::string{"x"}, "colour", 2);
    lamps.setObjectValue(table, &lamps.yesCell(), "enabled", 5);
    lamps.setObjectValue(table, &lamps.yesCell(), "enabled", -1);
    EXPECT_EQ(lamps.entries(), before);
    EXPECT_EQ(table.reloads, 6);
    EXPECT_EQ(log.lines.size(), 3u);
}

TEST(LampPlanTest, TheKthEnabledLampTakesColourKAndThosePastTheColoursTheZeroBody)
{
    const Colour red{1, 0, 0};
    const Colour green{0, 1, 0};
    struct Row {
        const char* what;
        Lamps lamps;
        std::vector<Colour> colours;
        std::vector<LampAssignment> plan;
    };
    const std::vector<Row> rows = {
        {"no lamps", {}, {red}, {}},
        {"disabled lamps take nothing",
         {{"a", "", false}, {"b", "", true}, {"c", "", false}, {"d", "", true}},
         {red, green, red},
         {{"b", red}, {"d", green}}},
        {"past the colours",
         {{"a", "", true}, {"b", "", true}, {"c", "", true}},
         {red},
         {{"a", red}, {"b", {}}, {"c", {}}}},
        {"no colour", {{"a", "", true}}, {}, {{"a", {}}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(planLamps(row.lamps, row.colours), row.plan);
    }
}

} // namespace
} // namespace glowcast
