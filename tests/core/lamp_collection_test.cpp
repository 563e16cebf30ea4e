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

// Lamps a..e as a set-up reads them, each off; the saved selection's first records enable b, d and e.
class LampCollectionTest : public ::testing::Test {
protected:
    RecordingLog log;
    FakeLampTableView table;
    LampCollection lamps{log};

    void SetUp() override
    {
        lamps.fill({{"a", "A"}, {"b", "B"}, {"c", "C"}, {"d", "D"}, {"e", "E"}},
                   Lamps{{"b", "", true}, {"d", "", true}, {"d", "", false}, {"e", "Old", true}, {"z", "", true}});
    }
};

TEST_F(LampCollectionTest, TheDataSourceAnswersFromTheCollectionInItsOrder)
{
    EXPECT_EQ(lamps.enabledCount(), 3);
    EXPECT_EQ(lamps.getIDofNthEnabled(1), "d");
    EXPECT_EQ(lamps.getIDofNthEnabled(2), "e");
    EXPECT_EQ(lamps.getIDofNthEnabled(3), std::nullopt);
    EXPECT_EQ(lamps.getIDofNthEnabled(-1), std::nullopt);
    EXPECT_EQ(log.lines,
              (Strings{"enabledcount returning 3", "getIDofNthEnabled returning d", "getIDofNthEnabled returning e"}));
    EXPECT_EQ(lamps.numberOfRowsInTableView(table), 5);
    EXPECT_EQ(std::pair(lamps.yesCell().state, lamps.noCell().state), std::pair(1, 0));
    EXPECT_EQ(std::get<const ButtonCell*>(lamps.objectValueForTableColumn(table, "enabled", 1)), &lamps.yesCell());
    EXPECT_EQ(std::get<const ButtonCell*>(lamps.objectValueForTableColumn(table, "enabled", 0)), &lamps.noCell());
    EXPECT_EQ(std::get<std::string>(lamps.objectValueForTableColumn(table, "name", 4)), "E");
    for (const auto& [column, row] : {std::pair{"colour", 1}, {"name", 5}, {"name", -1}})
        EXPECT_EQ(std::get<std::string>(lamps.objectValueForTableColumn(table, column, row)), "");
}

// The value passed is not looked at: "on" for an enabled lamp still turns it off.
TEST_F(LampCollectionTest, EveryCheckBoxCallFlipsTheLampAndOtherEditsChangeNothingButReload)
{
    lamps.setObjectValue(table, &lamps.yesCell(), "enabled", 0);
    EXPECT_EQ(lamps.getIDofNthEnabled(0), "a");
    EXPECT_FALSE(lamps.asSetUp()[0].enabled) << "what the set-up built stays for the save at the end";
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
    const Lamps lamps{{"a", "", false}, {"b", "", true}, {"c", "", false}, {"d", "", true}, {"e", "", true}};
    using Plan = std::vector<LampAssignment>;
    EXPECT_EQ(planLamps(lamps, std::vector{red, green, red, green}), (Plan{{"b", red}, {"d", green}, {"e", red}}));
    EXPECT_EQ(planLamps(lamps, std::vector{green}), (Plan{{"b", green}, {"d", {}}, {"e", {}}}));
    EXPECT_EQ(planLamps(lamps, {}), (Plan{{"b", {}}, {"d", {}}, {"e", {}}}));
    EXPECT_EQ(planLamps({}, std::vector{red}), Plan{});
}

} // namespace
} // namespace glowcast
