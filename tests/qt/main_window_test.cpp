#include "gui/bridge_address_bar.h"
#include "gui/main_window.h"
#include "gui/settings_dialog.h"
#include "support/controller_rig.h"
#include "support/fake_preferences.h"
#include "support/recording_log.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
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

TEST(SettingsDialogTest, ABadValueKeepsTheDialogOpenWithItsReasonAndChangesNothing)
{
    FakePreferences prefs;
    RecordingLog log;
    Settings settings{prefs, log};
    prefs.texts["lastusedbridgeIP"] = "10.0.0.2";
    std::vector<std::string> applied;
    SettingsDialog dialog{settings, [&](std::string_view key, const SettingValue& value) {
                              applied.push_back(std::string{key} + "=" + settingText(value));
                              return settings.set(key, value);
                          }};
    auto* address = qobject_cast<QLineEdit*>(dialog.field("lastusedbridgeIP"));
    auto* follow = qobject_cast<QCheckBox*>(dialog.field("followplayers"));
    auto* ignore = qobject_cast<QLineEdit*>(dialog.field("ignoreplayers"));
    ASSERT_TRUE(address != nullptr && follow != nullptr && ignore != nullptr);
    EXPECT_EQ(address->text(), QStringLiteral("10.0.0.2"));
    EXPECT_TRUE(follow->isChecked());

    dialog.show();
    follow->setChecked(false);
    qobject_cast<QLineEdit*>(dialog.field("portal"))->setText(QStringLiteral("http://portal/"));
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.error().startsWith(QStringLiteral("\"portal\" is not a host name")));
    EXPECT_TRUE(applied.empty());

    qobject_cast<QLineEdit*>(dialog.field("portal"))->clear();
    ignore->setText(QStringLiteral("vlc, firefox"));
    dialog.accept();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(applied, (std::vector<std::string>{"followplayers=false", "ignoreplayers=vlc, firefox"}));
}

TEST(BridgeAddressBarTest, OffersTheFieldsAndHidesOnceAnAddressIsTaken)
{
    BridgeAddressBar bar;
    std::vector<std::string> tried;
    bar.onTryAgain = [&](const std::string& address, const std::string& portal) {
        tried.push_back(address + "|" + portal);
        return address == "10.0.0.3" ? Outcome{} : Outcome{Failure::InvalidValue, "not an address"};
    };
    bar.offer(QStringLiteral("Glowcast found no bridge."), QString(), QStringLiteral("portal.local"));
    EXPECT_FALSE(bar.isHidden());
    EXPECT_EQ(bar.portalField().text(), QStringLiteral("portal.local"));
    bar.addressField().setText(QStringLiteral("no such thing"));
    bar.tryAgainButton().click();
    EXPECT_EQ(bar.message(), QStringLiteral("not an address"));
    EXPECT_FALSE(bar.isHidden());
    bar.addressField().setText(QStringLiteral(" 10.0.0.3 "));
    bar.tryAgainButton().click();
    EXPECT_TRUE(bar.isHidden());
    EXPECT_EQ(tried, (std::vector<std::string>{"no such thing|portal.local", "10.0.0.3|portal.local"}));
}

} // namespace
} // namespace glowcast
