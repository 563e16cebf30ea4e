#include "gui/bridge_address_bar.h"
#include "gui/lamp_systems_dialog.h"
#include "gui/main_window.h"
#include "gui/settings_dialog.h"
#include "support/controller_rig.h"
#include "support/fake_lamp_systems.h"
#include "support/fake_preferences.h"
#include "support/recording_log.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
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

// The cover and five swatches follow the controller; closing the window or Ctrl+Q asks to quit and
// waits for the answer.
TEST_F(MainWindowTest, ShowsTheCoverAndFiveSwatchesFollowsASecondSetUpAndAsksBeforeClosing)
{
    controller.connectViews(window.views());
    prefs.savedLamps = std::vector<LampEntry>{{"1", "", true}, {"2", "", true}};
    ASSERT_TRUE(setUpPaired(R"({"1":{"name":"Desk"},"2":{"name":"Hall"},"3":{"name":"Porch"}})"));
    postCover({{{192, 0, 0}, 3000}, {{0, 0, 192}, 2000}});
    EXPECT_FALSE(window.coverPane().picture().pixmap().isNull());
    EXPECT_EQ(window.coverPane().swatch(0).colour(), QColor::fromRgbF(0.75F, 0.0F, 0.0F));
    EXPECT_EQ(window.coverPane().swatch(1).colour(), QColor::fromRgbF(0.0F, 0.0F, 0.75F));
    EXPECT_EQ(window.coverPane().swatch(2).colour(), QColor(Qt::white));
    covers.post({{}, "Coverdeck"});
    EXPECT_TRUE(window.coverPane().picture().pixmap().isNull());
    http.replies.emplace_back(R"({"1":{"name":"Desk"},"2":{"name":"Hall"},"3":{"name":"Porch"},"4":{"name":"Attic"}})");
    controller.setUp();
    EXPECT_EQ(window.lampModel().rowCount(), 4);

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

// Edit > Pin the colours asks for the pin its check shows; the menu, opened, shows the controller's.
TEST_F(MainWindowTest, ThePinItemAsksForThePinAndShowsTheControllersWhenOpened)
{
    std::vector<bool> asked;
    window.onPinRequested = [&asked](bool pinned) { asked.push_back(pinned); };
    window.pinAction().trigger();
    EXPECT_EQ(asked, std::vector<bool>{true});
    Q_EMIT qobject_cast<QMenu*>(window.pinAction().parent())->aboutToShow(); // the pin was not stored
    EXPECT_FALSE(window.pinAction().isChecked());
}

// Each value waits for the one before it: the dialog says it waits, and shows the real outcome.
TEST(SettingsDialogTest, ABadValueKeepsTheDialogOpenWithItsReasonAndChangesNothing)
{
    FakePreferences prefs;
    RecordingLog log;
    Settings settings{prefs, log};
    prefs.texts["lastusedbridgeIP"] = "10.0.0.2";
    std::vector<std::string> applied;
    std::vector<Completion> waiting;
    SettingsDialog dialog{settings, [&](std::string_view key, const SettingValue& value, Completion done) {
                              applied.push_back(std::string{key} + "=" + settingText(value));
                              waiting.push_back(std::move(done));
                          }};
    const auto line = [&](const char* key) { return qobject_cast<QLineEdit*>(dialog.field(key)); };
    auto* follow = qobject_cast<QCheckBox*>(dialog.field("followplayers"));
    ASSERT_TRUE(follow != nullptr && follow->isChecked());
    EXPECT_EQ(line("lastusedbridgeIP")->text(), QStringLiteral("10.0.0.2"));
    dialog.show();
    follow->setChecked(false);
    line("portal")->setText(QStringLiteral("http://portal/"));
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.error().startsWith(QStringLiteral("\"portal\" is not a host name")));
    EXPECT_TRUE(applied.empty());

    line("portal")->clear();
    line("ignoreplayers")->setText(QStringLiteral("vlc, firefox"));
    dialog.accept();
    EXPECT_EQ(dialog.error(), QStringLiteral("waiting…"));
    EXPECT_EQ(applied, std::vector<std::string>{"followplayers=false"}) << "the next waits for this one's outcome";
    dialog.accept();
    EXPECT_EQ(applied.size(), 1u) << "OK again while waiting gives nothing twice";
    waiting[0](Outcome{});
    EXPECT_EQ(applied, (std::vector<std::string>{"followplayers=false", "ignoreplayers=vlc, firefox"}));
    waiting[1](Outcome{Failure::NotSent, "the bus did not answer"});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.error(), QStringLiteral("the bus did not answer"));

    dialog.accept();
    waiting[2](Outcome{});
    waiting[3](Outcome{});
    EXPECT_FALSE(dialog.isVisible());
}

TEST(BridgeAddressBarTest, OffersTheFieldsAndHidesOnceAnAddressIsTaken)
{
    BridgeAddressBar bar;
    std::vector<std::string> tried;
    Completion waiting;
    bar.onTryAgain = [&](const std::string& address, const std::string& portal, Completion done) {
        tried.push_back(address + "|" + portal);
        waiting = std::move(done);
    };
    bar.offer(QStringLiteral("Glowcast found no bridge."), QString(), QStringLiteral("portal.local"));
    EXPECT_FALSE(bar.isHidden());
    EXPECT_EQ(bar.portalField().text(), QStringLiteral("portal.local"));
    bar.addressField().setText(QStringLiteral("no such thing"));
    bar.tryAgainButton().click();
    EXPECT_EQ(bar.message(), QStringLiteral("waiting…"));
    EXPECT_FALSE(bar.tryAgainButton().isEnabled());
    waiting(Outcome{Failure::InvalidValue, "not an address"});
    EXPECT_EQ(bar.message(), QStringLiteral("not an address"));
    EXPECT_FALSE(bar.isHidden());
    bar.addressField().setText(QStringLiteral(" 10.0.0.3 "));
    bar.tryAgainButton().click();
    EXPECT_FALSE(bar.isHidden()) << "queued behind another operation: not taken yet";
    waiting(Outcome{});
    EXPECT_TRUE(bar.isHidden());
    EXPECT_EQ(tried, (std::vector<std::string>{"no such thing|portal.local", "10.0.0.3|portal.local"}));
}

// The dialog over a real registry: rows follow the systems, a request waits for its outcome, and a
// refusal shows its sentence with the fields kept.
TEST(LampSystemsDialogTest, ListsAddsAndRemovesSystemsAndKeepsTheirStatesUpToDate)
{
    RecordingLog log;
    FakeLampSystemFactory factory;
    FakeTimeline timeline;
    LampSystems systems{factory, timeline, timeline, log};
    systems.load({{"bridge-2", SystemKind::Bridge, "10.0.0.3", {}, {}}});
    std::vector<SystemAddition> asked;
    Completion waiting;
    LampSystemsDialog dialog{{[&] { return systems.statuses(); },
                              [&](const SystemAddition& addition, Completion done) {
                                  asked.push_back(addition);
                                  waiting = std::move(done);
                              },
                              [&](const std::string& id, Completion done) { done(systems.remove(id)); }}};
    systems.onSystemsChanged = [&] { dialog.refresh(); };
    dialog.show();
    const auto rows = [&, n = int{LampSystemsDialog::ColumnCount}] {
        QString texts;
        for (int cell = 0; cell < dialog.table().rowCount() * n; ++cell)
            texts += dialog.table().item(cell / n, cell % n)->text() + u'|';
        return texts;
    };
    EXPECT_EQ(rows(), QStringLiteral("bridge-2|bridge|10.0.0.3|offline|0|10|0 ms|-|"));
    EXPECT_FALSE(dialog.user().isEnabled()) << "a bridge pairs; it takes no user";
    // An answer changes no system: the dialog shows its latency at its next reading, within a second.
    factory.made.at("bridge-2")->told().lampsRead(colourLamps(1));
    systems.send({{"bridge-2/k1", LampState{false, 10, {}, {}, {}}}});
    timeline.advance(std::chrono::milliseconds{12});
    factory.made.at("bridge-2")->answerAll(SendResult::Delivered);
    const QString bridge = QStringLiteral("bridge-2|bridge|10.0.0.3|ready|1|10|0 ms|12 ms|");
    EXPECT_TRUE(QTest::qWaitFor([&] { return rows() == bridge; }, 5'000)) << rows().toStdString();

    dialog.kind().setCurrentIndex(1);
    dialog.address().setText(QStringLiteral(" mqtt://10.0.0.5 "));
    dialog.user().setText(QStringLiteral("ann"));
    dialog.passwordFile().setText(QStringLiteral("/run/user/1000/broker"));
    dialog.addButton().click();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0],
              (SystemAddition{SystemKind::Zigbee2Mqtt, "mqtt://10.0.0.5", "ann", "/run/user/1000/broker", {}}));
    EXPECT_FALSE(dialog.addButton().isEnabled());
    EXPECT_EQ(dialog.message(), QStringLiteral("Adding…"));
    waiting(Outcome{Failure::InvalidValue, "the password file cannot be used"});
    EXPECT_EQ(dialog.message(), QStringLiteral("the password file cannot be used"));
    EXPECT_EQ(dialog.user().text(), QStringLiteral("ann")) << "a refusal keeps what was typed";

    dialog.addButton().click();
    waiting(systems.add({"z2m", SystemKind::Zigbee2Mqtt, asked[1].address, {}, asked[1].user}));
    EXPECT_TRUE(dialog.address().text().isEmpty());
    factory.made.at("z2m")->told().lampsRead(colourLamps(3));
    factory.made.at("z2m")->told().stateChanged(SystemState::Refused, "not authorised");
    EXPECT_EQ(rows(), bridge + QStringLiteral("z2m|zigbee2mqtt|mqtt://10.0.0.5|refused: not authorised|3|5|0 ms|-|"));

    dialog.table().selectRow(0);
    dialog.removeButton().click();
    EXPECT_EQ(rows(), QStringLiteral("z2m|zigbee2mqtt|mqtt://10.0.0.5|refused: not authorised|3|5|0 ms|-|"));
    EXPECT_TRUE(dialog.message().isEmpty());

    // Home Assistant takes its token from a file, never without one.
    dialog.kind().setCurrentIndex(3);
    EXPECT_FALSE(dialog.user().isEnabled());
    dialog.address().setText(QStringLiteral("https://ha.local"));
    dialog.addButton().click();
    EXPECT_EQ(dialog.message(),
              QStringLiteral("Home Assistant takes a long-lived access token: choose the file that holds it."));
    dialog.passwordFile().setText(QStringLiteral("/run/user/1000/ha.token"));
    dialog.addButton().click();
    EXPECT_EQ(asked.back(),
              (SystemAddition{SystemKind::HomeAssistant, "https://ha.local", {}, {}, "/run/user/1000/ha.token"}));
}

} // namespace
} // namespace glowcast
