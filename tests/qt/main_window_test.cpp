#include "gui/main_window.h"
#include "support/controller_rig.h"

#include <QAction>
#include <QApplication>
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

TEST_F(MainWindowTest, ClosingTheWindowOrCtrlQAsksToQuitAndWaitsForTheAnswer)
{
    for (QAction* action : window.findChildren<QAction*>())
        if (action->shortcut() == QKeySequence(Qt::CTRL | Qt::Key_Q))
            action->trigger();
    EXPECT_EQ(quitRequests, 1);
    EXPECT_FALSE(window.close());
    EXPECT_EQ(quitRequests, 2);
    EXPECT_TRUE(window.isVisible()) << "the window stays until the selection is saved";
    window.allowClose();
    EXPECT_TRUE(window.close());
    EXPECT_EQ(quitRequests, 2);
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

} // namespace
} // namespace glowcast
