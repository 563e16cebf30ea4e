#include "gui/lamp_table_model.h"
#include "gui/main_window.h"
#include "support/controller_rig.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

namespace glowcast {
namespace {

// A controller set up against a bridge that lists Desk, Hall and Porch, with Hall saved as enabled.
// What a click does to the lamps is the controller's; here, that the model and the window pass it on.
class LampTableModelTest : public ::testing::Test, protected ControllerRig {
protected:
    LampTableModelTest()
    {
        prefs.texts = {{"username", "alice"}, {"lastusedbridgeIP", "10.0.0.2"}};
        prefs.savedLamps = std::vector<LampEntry>{{"2", "Hall", true}};
        http.replies.emplace_back(R"({"1":{"name":"Desk"},"2":{"name":"Hall"},"3":{"name":"Porch"}})");
        controller.awakeFromNib();
        scheduler.fireNext();
    }
    LampTableModel model{controller};
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Fatal};
    QSignalSpy resets{&model, &QAbstractItemModel::modelReset};
};

TEST_F(LampTableModelTest, ShowsCheckBoxesAndNamesAndAClickOnACheckBoxFlipsTheLamp)
{
    EXPECT_EQ(model.index(1, 1).data().toString(), QStringLiteral("Hall"));
    EXPECT_EQ(model.index(1, 0).data(Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_FALSE(model.flags(model.index(0, 1)).testFlag(Qt::ItemIsEditable));
    EXPECT_FALSE(model.setData(model.index(2, 1), QStringLiteral("Garden"), Qt::EditRole));
    QTableView view;
    view.setModel(&model);
    view.resize(300, 200);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    const QModelIndex porch = model.index(2, LampTableModel::EnabledColumn);
    QStyleOptionViewItem option;
    option.initFrom(view.viewport());
    option.rect = view.visualRect(porch);
    option.features |= QStyleOptionViewItem::HasCheckIndicator;
    const QRect box = view.style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, &view);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::NoModifier, box.center());
    EXPECT_TRUE(controller.collection()[2].enabled);
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(porch.data(Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_EQ(porch.data().toString(), QString()) << "the check box column shows no text";
}

TEST_F(LampTableModelTest, TheWindowFollowsASecondSetUpAndShowsTheCoverAndFiveSwatches)
{
    MainWindow window{controller};
    controller.connectOutlets(window.outlets());
    http.replies.emplace_back(R"({"1":{"name":"Desk"},"2":{"name":"Hall"},"3":{"name":"Porch"},"4":{"name":"Attic"}})");
    controller.setUp();
    EXPECT_EQ(window.lampModel().rowCount(), 4);
    decoder.covers.push_back(
        std::make_unique<PatchCover>(std::vector<PatchCover::Patch>{{{192, 0, 0}, 3000}, {{0, 0, 192}, 2000}}));
    controller.setObjectValue(window.lampModel(), &controller.yesCell(), "enabled", 0); // two lamps enabled
    centre.post({"CoverdeckAlbumCoverChanged", "Coverdeck", {{"cover", {1, 2, 3}}}});
    EXPECT_FALSE(window.coverView().pixmap().isNull());
    EXPECT_EQ(window.well(0).colour(), QColor::fromRgbF(0.75F, 0.0F, 0.0F));
    EXPECT_EQ(window.well(1).colour(), QColor::fromRgbF(0.0F, 0.0F, 0.75F));
    EXPECT_EQ(window.well(2).colour(), QColor(Qt::white));

    centre.post({"CoverdeckAlbumCoverChanged", "Coverdeck", {}});
    EXPECT_TRUE(window.coverView().pixmap().isNull());
}

} // namespace
} // namespace glowcast
