#include "gui/lamp_swatch.h"
#include "gui/lamp_table_model.h"
#include "support/recording_log.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

namespace glowcast {
namespace {

using Strings = std::vector<std::string>;

// Desk, Hall and Porch as a set-up reads them, with Hall saved as enabled, shown by the model under
// Qt's model checker.
struct ModelRig {
    RecordingLog log;
    LampCollection lamps{log};
    LampTableModel model{lamps};
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Fatal};

    ModelRig()
    {
        lamps.setView(&model);
        lamps.fill({{"1", "Desk"}, {"2", "Hall"}, {"3", "Porch"}}, std::vector<LampEntry>{{"2", "", true}});
    }
    [[nodiscard]] int checkState(int row) const
    {
        return model.index(row, LampTableModel::EnabledColumn).data(Qt::CheckStateRole).toInt();
    }
};

// A check box set to the state its lamp already has changes nothing (no flip, no line, no signal);
// another state switches the lamp and tells its own cell only. A name is not editable.
TEST(LampTableModelTest, SettingACheckBoxSwitchesItsLampOnlyWhenTheStateDiffers)
{
    const std::tuple<int, Qt::CheckState, Strings> rows[] = {{1, Qt::Checked, {}},
                                                             {1, Qt::Unchecked, {"unsetting enabled"}},
                                                             {2, Qt::Checked, {"setting enabled"}},
                                                             {2, Qt::Unchecked, {}}};
    for (const auto& [row, asked, lines] : rows) {
        SCOPED_TRACE(std::to_string(row) + " " + std::to_string(asked));
        ModelRig rig;
        QSignalSpy changes{&rig.model, &QAbstractItemModel::dataChanged};
        EXPECT_TRUE(rig.model.setData(rig.model.index(row, 0), asked, Qt::CheckStateRole));
        EXPECT_FALSE(rig.model.setData(rig.model.index(row, 1), QStringLiteral("Garden"), Qt::EditRole));
        EXPECT_EQ(rig.checkState(row), asked);
        EXPECT_EQ(rig.log.lines, lines);
        ASSERT_EQ(changes.count(), static_cast<qsizetype>(lines.size()));
        for (const QList<QVariant>& change : changes) // its own cell only
            EXPECT_EQ(std::pair(change[0].toModelIndex(), change[1].toModelIndex()),
                      std::pair(rig.model.index(row, 0), rig.model.index(row, 0)));
    }
}

// One rig walked through: names beside check boxes a user can check; lamps that come and go are rows
// inserted and removed, and a refill resets. The first bridge's lamps show "bridge", the others their
// system; a swatch shows the colour a lamp was last sent, told as a change of its own cell, and stays
// with the lamp's id through a refill.
TEST(LampTableModelTest, ShowsNamesSystemsAndSwatchesAndFollowsLampsThatComeAndGo)
{
    ModelRig rig;
    LampTableModel& model = rig.model;
    EXPECT_EQ(model.index(1, 1).data().toString(), QStringLiteral("Hall"));
    EXPECT_TRUE(model.flags(model.index(2, 0)).testFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled));
    EXPECT_FALSE(model.flags(model.index(0, 1)).testFlag(Qt::ItemIsEditable));
    QSignalSpy inserted{&model, &QAbstractItemModel::rowsInserted};
    QSignalSpy removed{&model, &QAbstractItemModel::rowsRemoved};
    QSignalSpy resets{&model, &QAbstractItemModel::modelReset};
    QSignalSpy changes{&model, &QAbstractItemModel::dataChanged};
    rig.lamps.insert(1, {{"4", "Attic", true}, {"5", "Cellar"}});
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(std::pair(inserted[0][1].toInt(), inserted[0][2].toInt()), std::pair(1, 2));
    EXPECT_EQ(model.index(1, 1).data().toString(), QStringLiteral("Attic"));
    EXPECT_EQ(rig.checkState(1), Qt::Checked);
    rig.lamps.erase(0, 2);
    ASSERT_EQ(removed.count(), 1);
    EXPECT_EQ(std::pair(removed[0][1].toInt(), removed[0][2].toInt()), std::pair(0, 1)); // the tester counts rows
    EXPECT_EQ(resets.count(), 0);

    rig.lamps.fill({{"1", "Desk"}, {"z2m/0x00124b0001", "Shelf"}, {"bridge-2/7", "Hall"}}, std::nullopt);
    EXPECT_EQ(resets.count(), 1);
    const auto cell = [&](int row, int role) { return model.index(row, LampTableModel::SentColumn).data(role); };
    for (const auto& [row, system] : {std::pair{0, "bridge"}, {1, "z2m"}, {2, "bridge-2"}})
        EXPECT_EQ(model.index(row, LampTableModel::SystemColumn).data().toString(), QLatin1String(system));
    model.showSent("z2m/0x00124b0001", Colour{1.0, 0.5, 0.0, 1.0});
    model.showSent("z2m/0xgone", Colour{1.0, 1.0, 1.0, 1.0});
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes[0][0].toModelIndex(), model.index(1, LampTableModel::SentColumn));
    EXPECT_EQ(cell(1, Qt::BackgroundRole).value<QColor>(), QColor(255, 128, 0));
    EXPECT_EQ(cell(1, Qt::ToolTipRole).toString(), QStringLiteral("Last sent #ff8000"));
    EXPECT_FALSE(cell(0, Qt::BackgroundRole).isValid()) << "a lamp never sent a colour has no swatch";
    rig.lamps.fill({{"z2m/0x00124b0001", "Shelf"}}, std::nullopt);
    EXPECT_EQ(model.rowCount(), 1);
    EXPECT_EQ(cell(0, Qt::BackgroundRole).value<QColor>(), QColor(255, 128, 0));
}

TEST(LampSwatchTest, ASwatchShowsTheStatesChromaticityDimmedByItsBrightness)
{
    const std::pair<LampState, std::array<int, 3>> rows[] = {
        {{false, 254, Chromaticity{0.64, 0.33}, {}, {}}, {255, 0, 0}},
        {{false, 254, Chromaticity{0.30, 0.60}, {}, {}}, {0, 255, 0}},
        {{true, {}, Chromaticity{0.15, 0.06}, {}, 4}, {0, 0, 255}},
        {{false, 254, Chromaticity{0.70, 0.30}, {}, {}}, {255, 0, 0}}, // beyond sRGB's red
        {{false, 127, Chromaticity{0.64, 0.33}, {}, {}}, {188, 0, 0}},
        {{false, 127, {}, {}, {}}, {188, 188, 188}},
        {{false, 1, {}, {}, {}}, {13, 13, 13}},
        {{false, {}, {}, {}, {}}, {255, 255, 255}},
        {{false, 254, {}, 153, {}}, {255, 249, 255}}, // 6536 K, on the curve a little below sRGB's white
        {{false, 254, {}, 500, {}}, {255, 139, 22}},  // 2000 K
    };
    for (const auto& [state, bytes] : rows) {
        const Colour shown = shownColour(state);
        const double got[] = {shown.red, shown.green, shown.blue};
        for (std::size_t k = 0; k < 3; ++k)
            EXPECT_NEAR(std::lround(got[k] * 255), bytes[k], 1)
                << "component " << k << " of " << state.brightness.value_or(0);
    }
}

} // namespace
} // namespace glowcast
