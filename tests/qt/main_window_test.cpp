#include "core/glowcast_controller.h"
#include "fakes/controller_rig.h"
#include "gui/main_window.h"
#include "gui/push_button_window.h"

#include <QAction>
#include <QTest>

#include <gtest/gtest.h>

namespace glowcast {
namespace {

class MainWindowTest : public ::testing::Test, protected ControllerRig {
protected:
    MainWindow window{controller};
    int quitRequests = 0;

    void SetUp() override
    {
        window.onQuitRequested = [this] { ++quitRequests; };
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
};

TEST_F(MainWindowTest, ClosingTheWindowAsksToQuitAndWaitsForTheAnswer)
{
    EXPECT_FALSE(window.close());
    EXPECT_EQ(quitRequests, 1);
    EXPECT_TRUE(window.isVisible()) << "the window stays until the selection is saved";

    window.allowClose();
    EXPECT_TRUE(window.close());
    EXPECT_EQ(quitRequests, 1);
}

TEST_F(MainWindowTest, TheQuitMenuItemAsksToQuitWithCtrlQ)
{
    QAction* quit = nullptr;
    for (QAction* action : window.findChildren<QAction*>())
        if (action->shortcut() == QKeySequence(Qt::CTRL | Qt::Key_Q))
            quit = action;
    ASSERT_NE(quit, nullptr);
    quit->trigger();
    EXPECT_EQ(quitRequests, 1);
}

TEST_F(MainWindowTest, BecomingTheActiveWindowIsReported)
{
    int activations = 0;
    window.onBecameKey = [&] { ++activations; };
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_EQ(activations, 0);
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_EQ(activations, 1);
}

TEST_F(MainWindowTest, OutletsReachTheWindowsWidgets)
{
    const ControllerOutlets outlets = window.outlets();
    EXPECT_EQ(outlets.lampTableView, &window.lampModel());
    EXPECT_EQ(outlets.imageView, &window.coverView());
    for (std::size_t k = 0; k < 5; ++k)
        EXPECT_EQ(outlets.colourWells[k], &window.well(k));
}

TEST(PushButtonWidgetTest, ShowsABusyBarWhilePairingAndHidesAgain)
{
    PushButtonWidget widget;
    PushButtonWindow& port = widget;
    port.show();
    EXPECT_TRUE(widget.isVisible());
    EXPECT_EQ(widget.busyBar().minimum(), 0);
    EXPECT_EQ(widget.busyBar().maximum(), 0) << "a bar without an end keeps moving";
    port.bringToFront();
    port.hide();
    EXPECT_FALSE(widget.isVisible());
    port.hide();
    EXPECT_FALSE(widget.isVisible());
}

} // namespace
} // namespace glowcast
