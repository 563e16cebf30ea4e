// The windowed program with real processes: glowcast under a private session bus, the bridge
// simulator on a loopback port, a cover posted by the README's gdbus command, and a real media
// player: mpv with the mpv-mpris plugin playing a generated track with a cover.jpg beside it.

#undef QT_NO_CAST_FROM_ASCII // every text here is ASCII

#include "support/private_session_bus.h"
#include "support/processes.h"

#include <gtest/gtest.h>

namespace glowcast::testing {
namespace {

const QString kMprisPlugin = "/usr/lib/mpv-mpris/mpris.so";

// One second of silence (8 kHz, 16-bit mono): mpv wants a track, the test wants no sound.
const QByteArray kSilence = QByteArray::fromHex("52494646a43e000057415645666d74201000000001000100401f0000803e0000"
                                                "0200100064617461803e0000") +
                            QByteArray(16000, '\0');

class AppEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(bus.address().isEmpty() || sim.address.empty()) << "no private session bus or simulator";
        environment = programEnvironment(bus.address(), config.path(), sim.address);
    }

    ConfigDirectory config;
    PrivateSessionBus bus;
    Simulator sim{words("--lamps 3 --user alice")};
    QProcessEnvironment environment;
};

// The poster's way in is shown with the service; which colours a cover gives is the core's to show.
TEST_F(AppEndToEndTest, CoversFromGdbusAndFromMpvColourTheEnabledLampsAndSigtermSavesThem)
{
    ASSERT_TRUE(QFile::exists(kMprisPlugin)) << "mpv-mpris is not installed (scripts/install-deps.sh)";
    // Known to the bridge as "alice", lamps 1 and 3 of 1..3 enabled, and a lamp 9 it no longer has.
    config.writePaired(sim.address, "9+ 1+ 2- 3+");
    Child app{GLOWCAST_APP, {}, environment};
    ASSERT_TRUE(app.waitForOutput("registering for notifications")) << app.output().toStdString();
    sim.control(HttpMethod::Delete, "/sim/requests");
    const QString readmeCommand = QStringLiteral(
        "gdbus emit --session --object-path /org/glowcast/Notifications "
        "--signal org.glowcast.DistributedNotifications.Posted \"'CoverdeckAlbumCoverChanged'\" \"'Coverdeck'\" "
        "\"{'cover': <[byte $(od -An -v -tx1 \"$1\" | tr -s ' \\n' ' ' | sed 's/^ //;s/ $//;s/ /, 0x/g;s/^/0x/')]>}\"");
    EXPECT_EQ(Child("sh", {"-c", readmeCommand, "sh", config.flatCover(QColor(0, 200, 0))}, environment).exitCode(), 0);
    const std::vector<std::string> expected{R"(PUT /api/alice/lights/1/state {"bri":96,"xy":[0.410,0.510]})",
                                            R"(PUT /api/alice/lights/3/state {"bri":96,"xy":[0.410,0.510]})"};
    EXPECT_TRUE(pollFor([&] { return sim.requests("PUT").size() >= expected.size(); }));
    EXPECT_EQ(sim.requests("PUT"), expected);

    QImage cover(64, 64, QImage::Format_RGB32);
    cover.fill(QColor(240, 140, 20));
    ASSERT_TRUE(cover.save(config.file("cover.jpg"), "JPEG", 95));
    QFile track(config.file("track.wav"));
    ASSERT_TRUE(track.open(QIODevice::WriteOnly) && track.write(kSilence) == kSilence.size());
    track.close();
    sim.control(HttpMethod::Delete, "/sim/requests");
    Child mpv{"mpv",
              words("--no-config --no-video --ao=null --loop=inf")
                  << "--script=" + kMprisPlugin << config.file("track.wav"),
              environment};
    EXPECT_TRUE(pollFor([&] { return sim.requests("PUT").size() >= 2; })) << app.output().toStdString();
    const std::vector<std::string> puts = sim.requests("PUT");
    ASSERT_EQ(puts.size(), 2u);
    EXPECT_TRUE(puts[0].starts_with("PUT /api/alice/lights/1/state {\"bri\":")) << puts[0];
    EXPECT_TRUE(puts[1].starts_with("PUT /api/alice/lights/3/state {\"bri\":")) << puts[1];
    Child players{GLOWCAST_CTL, {"players"}, environment};
    ASSERT_EQ(players.exitCode(), 0);
    EXPECT_TRUE(
        players.output().contains("* org.mpris.MediaPlayer2.mpv (mpv): Playing, \"track.wav\"\n    art: file://" +
                                  config.file("cover.jpg").toUtf8() + "\n"))
        << players.output().toStdString();

    app.signal(SIGTERM);
    ASSERT_EQ(app.exitCode(), 0);
    EXPECT_EQ(config.savedLamps(), "1+ 2- 3+"); // the bridge's lamps with the user's choices; lamp 9 is gone
}

TEST_F(AppEndToEndTest, ASecondSignalWhilePairingWaitsQuitsAtOnceAndKeepsTheSavedSelection)
{
    // Nothing answers at that address and there is no portal: the set-up ends up pairing, which waits.
    config.write(
        R"({"username":"alice","lastusedbridgeIP":"127.0.0.1:9","lamps":[{"id":"1","name":"Desk","enabled":true}]})");
    environment.remove("GLOWCAST_PORTAL");
    Child app{GLOWCAST_APP, {}, environment};
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
