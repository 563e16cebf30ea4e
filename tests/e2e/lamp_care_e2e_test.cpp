// Lamp care end to end: glowcast --headless under a private session bus follows a test media player
// and colours the simulator's lamps, each setting set with glowcastctl config while it runs.

#undef QT_NO_CAST_FROM_ASCII // every text here is ASCII

#include "support/private_session_bus.h"
#include "support/processes.h"
#include "support/test_player.h"

#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>

namespace glowcast::testing {
namespace {

using Strings = std::vector<std::string>;

struct LampCareEndToEndTest : ::testing::Test {
    // A lamp of each kind, all enabled, and glowcast with no settings.
    void SetUp() override
    {
        directory.writePaired(sim.address, "1+ 2+ 3+ 4+");
        app = std::make_unique<Child>(GLOWCAST_APP, QStringList{"--headless"}, environment);
        ASSERT_TRUE(app->waitForOutput("registering for notifications")) << app->output().toStdString();
    }
    QJsonValue lamps() { return QJsonDocument::fromJson(sim.control(HttpMethod::Get, "/sim/state").c_str())[u"lamps"]; }
    void setting(const char* key, const char* value)
    {
        ASSERT_EQ(Child(GLOWCAST_CTL, {"config", key, value}, environment).exitCode(), 0);
    }
    // The lamp-state requests once the player plays a flat cover of the colour, when there are as
    // many as expected.
    Strings play(const QColor& colour, std::size_t expected)
    {
        const QString path = directory.flatCover(colour);
        sim.control(HttpMethod::Delete, "/sim/requests");
        player.publish({{"PlaybackStatus", "Playing"},
                        {"Metadata", QVariantMap{{"mpris:artUrl", QUrl::fromLocalFile(path).toString()}}}});
        EXPECT_TRUE(pollFor([&] { return sim.requests("PUT").size() >= expected; })) << app->output().toStdString();
        return sim.requests("PUT");
    }

    ConfigDirectory directory;
    testing::PrivateSessionBus bus;
    testing::TestPlayer player{bus.address(), "lamps", {{"PlaybackStatus", "Stopped"}}};
    Simulator sim{words("--lamps extended,colour-a,temperature,dimmable --user alice")};
    QProcessEnvironment environment = programEnvironment(bus.address(), directory.path());
    std::unique_ptr<Child> app;
};

Strings puts(const std::string& one, const std::string& two, const std::string& three, const std::string& four)
{
    const std::string lamps = "PUT /api/alice/lights/";
    return {lamps + "1/state " + one, lamps + "2/state " + two, lamps + "3/state " + three, lamps + "4/state " + four};
}

TEST_F(LampCareEndToEndTest, SettingsReachLampsOfEveryKindA429IsWaitedOutAndAPauseOfThePlayerPutsThemBack)
{
    sim.control(HttpMethod::Put, "/api/alice/lights/1/state", R"({"on":false})");

    // Nothing set: the requests as without lamp care; lamp 1 is off and is not switched on.
    const std::string red = R"({"bri":255,"xy":[0.640,0.330]})";
    EXPECT_EQ(play(Qt::red, 4), puts(red, red, red, red));

    // Blue, [0.150,0.060], lies outside both colour lamps' triangles (gamuts C and A): each gets the
    // nearest point of its own. The white lamp gets the coolest white it has, the dimmable one
    // brightness only, and lamp 1 lights up.
    setting("switchOn", "true");
    setting("fitLamp", "true");
    EXPECT_EQ(play(QColor(0, 0, 200), 4),
              puts(R"({"on":true,"bri":96,"xy":[0.1535,0.0599]})", R"({"on":true,"bri":96,"xy":[0.1418,0.0815]})",
                   R"({"on":true,"bri":96,"ct":153})", R"({"on":true,"bri":96})"));

    // The bridge's 429 reaches lamp care through the HTTP port, and after the back-off the lamp gets
    // its state again. The pace that avoids the 429 is lamp care's to show, and measured in BENCHMARKS.md.
    sim.control(HttpMethod::Post, "/sim/faults",
                R"({"mode":"status","status":429,"count":1,"path":"/lights/2/state"})");
    const Strings sent = play(QColor(0, 200, 0), 5);
    ASSERT_EQ(sent.size(), 5u) << app->output().toStdString();
    EXPECT_EQ(std::ranges::count(sent, sent[1]), 2) << sent[1];
    EXPECT_TRUE(app->output().contains("the bridge is overloaded (HTTP 429)"));

    // Each lamp's own state is read before its first colour after the setting, and put back once the
    // player has paused for a second; playing the same track again sends its cover again.
    setting("restoreAfter", "1");
    const QJsonValue before = lamps();
    EXPECT_EQ(play(QColor(255, 160, 0), 4).size(), 4u);
    EXPECT_EQ(sim.requests("GET").size(), 4u);
    player.publish({{"PlaybackStatus", "Paused"}});
    EXPECT_TRUE(pollFor([&] { return sim.requests("PUT").size() == 8; }));
    for (qsizetype i = 0; i < 4; ++i)
        EXPECT_TRUE(pollFor([&] { return lamps()[i][u"colour"] == before[i][u"colour"]; }, 2'000)) << i;
    player.publish({{"PlaybackStatus", "Playing"}});
    EXPECT_TRUE(pollFor([&] { return sim.requests("PUT").size() == 12; })) << app->output().toStdString();
}

} // namespace
} // namespace glowcast::testing
