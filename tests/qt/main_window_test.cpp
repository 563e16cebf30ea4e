#include "gui/main_window.h"
#include "gui/push_button_window.h"
#include "support/controller_rig.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

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

TEST(MessageBoxAlertTest, ShowsTheTitleTheTextAndTheOneButtonUntilDismissed)
{
    QStringList shown;
    // The alert is modal: look at it from the event loop it runs, then press its button.
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        shown << box->windowTitle() << box->text() << box->informativeText();
        for (QAbstractButton* button : box->buttons())
            shown << button->text();
        box->buttons().front()->click();
    });
    MessageBoxAlert alert;
    alert.runModal({"Unable to find IP of bridge", "OK", "Have tried to discover the Bridge's IP but failed."});
    EXPECT_EQ(shown, (QStringList{
                         QStringLiteral("Unable to find IP of bridge"), QStringLiteral("Unable to find IP of bridge"),
                         QStringLiteral("Have tried to discover the Bridge's IP but failed."), QStringLiteral("OK")}));
}

} // namespace
} // namespace glowcast
