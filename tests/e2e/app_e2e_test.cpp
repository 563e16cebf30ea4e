// The windowed program with real processes: glowcast under a private session bus, the bridge
// simulator on a loopback port, covers posted by glowcast-post-cover and by gdbus.

#undef QT_NO_CAST_FROM_ASCII // every text here is ASCII

#include "support/private_session_bus.h"
#include "support/processes.h"

#include <gtest/gtest.h>

namespace glowcast::testing {
namespace {

const QByteArray kListening = "registering for notifications";

class AppEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(bus.address().isEmpty()) << "no private session bus";
        ASSERT_FALSE(sim.address.empty()) << "the simulator did not start";
        environment = programEnvironment(bus.address(), config.path(), sim.address);
    }

    ConfigDirectory config;
    PrivateSessionBus bus;
    Simulator sim{words("--lamps 3 --user alice")};
    QProcessEnvironment environment;
};

TEST_F(AppEndToEndTest, CoversFromThePosterAndFromGdbusColourTheEnabledLampsAndSigtermSavesThem)
{
    // Known to the bridge as "alice", lamps 1 and 3 of 1..3 enabled, and a lamp 9 it no longer has.
    config.writePaired(sim.address, "9+ 1+ 2- 3+");
    Child app{QStringLiteral(GLOWCAST_APP), {}, environment};
    ASSERT_TRUE(app.waitForOutput(kListening)) << app.output().toStdString();
    sim.control(HttpMethod::Delete, "/sim/requests");

    // Flat covers: which colours a cover gives is the core's to show; here, that each way in reaches the lamps.
    const QString red = config.flatCover(QColor(255, 0, 0));
    const QString green = config.flatCover(QColor(0, 200, 0));
    EXPECT_EQ(Child(QStringLiteral(GLOWCAST_POST_COVER), {red}, environment).exitCode(), 0);
    ASSERT_TRUE(pollFor([&] { return sim.requests("PUT").size() >= 2; }));
    // The README's gdbus command for any small file.
    const QString readmeCommand = QStringLiteral(
        "gdbus emit --session --object-path /org/glowcast/Notifications "
        "--signal org.glowcast.DistributedNotifications.Posted \"'CoverdeckAlbumCoverChanged'\" \"'Coverdeck'\" "
        "\"{'cover': <[byte $(od -An -v -tx1 \"$1\" | tr -s ' \\n' ' ' | sed 's/^ //;s/ $//;s/ /, 0x/g;s/^/0x/')]>}\"");
    EXPECT_EQ(Child("sh", {"-c", readmeCommand, "sh", green}, environment).exitCode(), 0);
    const std::vector<std::string> expected{R"(PUT /api/alice/lights/1/state {"bri":255,"xy":[0.640,0.330]})",
                                            R"(PUT /api/alice/lights/3/state {"bri":255,"xy":[0.640,0.330]})",
                                            R"(PUT /api/alice/lights/1/state {"bri":96,"xy":[0.410,0.510]})",
                                            R"(PUT /api/alice/lights/3/state {"bri":96,"xy":[0.410,0.510]})"};
    EXPECT_TRUE(pollFor([&] { return sim.requests("PUT").size() >= expected.size(); }));
    EXPECT_EQ(sim.requests("PUT"), expected);

    app.signal(SIGTERM);
    ASSERT_EQ(app.exitCode(), 0);
    EXPECT_TRUE(app.output().contains("hub should terminate"));
    EXPECT_EQ(config.savedLamps(), "1+ 2- 3+"); // the bridge's lamps with the user's choices; lamp 9 is gone
}

TEST_F(AppEndToEndTest, ASecondSignalWhilePairingWaitsQuitsAtOnceAndKeepsTheSavedSelection)
{
    // Nothing answers at that address and there is no portal: the set-up ends up pairing, which waits.
    config.write(
        R"({"username":"alice","lastusedbridgeIP":"127.0.0.1:9","lamps":[{"id":"1","name":"Desk","enabled":true}]})");
    environment.remove("GLOWCAST_PORTAL");
    Child app{QStringLiteral(GLOWCAST_APP), {}, environment};
    ASSERT_TRUE(app.waitForOutput("no response from Portal API")) << app.output().toStdString();

    app.signal(SIGTERM);
    ASSERT_TRUE(app.waitForOutput("signal 15 received, quitting"));
    app.signal(SIGTERM);
    ASSERT_EQ(app.exitCode(), 0);
    EXPECT_TRUE(app.output().contains("no lamp list was read, keeping the saved selection"));
    EXPECT_EQ(config.savedLamps(), "1+");
}

} // namespace
} // namespace glowcast::testing
