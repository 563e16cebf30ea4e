// Glowcast following a real media player: mpv with the mpv-mpris plugin plays a generated track with
// a cover.jpg beside it, under a private session bus, with the bridge simulator on loopback.

#undef QT_NO_CAST_FROM_ASCII // every text here is ASCII

#include "support/private_session_bus.h"
#include "support/processes.h"

#include <QFile>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace glowcast::testing {
namespace {

const QString kMprisPlugin = "/usr/lib/mpv-mpris/mpris.so";

// One second of silence (8 kHz, 16-bit mono): mpv wants a track, the test wants no sound.
const QByteArray kSilence = QByteArray::fromHex("52494646a43e000057415645666d74201000000001000100401f0000803e0000"
                                                "0200100064617461803e0000") +
                            QByteArray(16000, '\0');

TEST(PlayerEndToEndTest, TheLampsTakeTheColoursOfTheCoverBesideTheTrackMpvPlays)
{
    ASSERT_TRUE(QFile::exists(kMprisPlugin)) << "mpv-mpris is not installed (scripts/install-deps.sh)";
    ConfigDirectory work;
    PrivateSessionBus bus;
    Simulator sim{words("--lamps 3 --user alice")};
    ASSERT_FALSE(bus.address().isEmpty() || sim.address.empty());
    work.writePaired(sim.address, "1+ 2- 3+");

    // Two thirds orange, one third deep blue.
    QImage cover(600, 600, QImage::Format_RGB32);
    cover.fill(QColor(20, 40, 200));
    QPainter(&cover).fillRect(0, 0, 600, 400, QColor(240, 140, 20));
    ASSERT_TRUE(cover.save(work.file("cover.jpg"), "JPEG", 95));
    QFile track(work.file("track.wav"));
    ASSERT_TRUE(track.open(QIODevice::WriteOnly) && track.write(kSilence) == kSilence.size());
    track.close();
    const QProcessEnvironment environment = programEnvironment(bus.address(), work.path());
    Child app{QStringLiteral(GLOWCAST_APP), {}, environment};
    ASSERT_TRUE(app.waitForOutput("registering for notifications")) << app.output().toStdString();
    Child mpv{"mpv",
              words("--no-config --no-video --ao=null --loop=inf")
                  << "--script=" + kMprisPlugin << work.file("track.wav"),
              environment};

    // Which colours a cover gives is the core's to show; here, that the cover reaches the lamps.
    EXPECT_TRUE(pollFor([&] { return sim.requests("PUT").size() >= 2; })) << app.output().toStdString();
    const std::vector<std::string> puts = sim.requests("PUT");
    ASSERT_EQ(puts.size(), 2u);
    EXPECT_TRUE(puts[0].starts_with("PUT /api/alice/lights/1/state {\"bri\":")) << puts[0];
    EXPECT_TRUE(puts[1].starts_with("PUT /api/alice/lights/3/state {\"bri\":")) << puts[1];
    EXPECT_TRUE(app.output().contains("players: following org.mpris.MediaPlayer2.mpv (mpv)"));

    Child players{QStringLiteral(GLOWCAST_CTL), {"players"}, environment};
    ASSERT_EQ(players.exitCode(), 0);
    EXPECT_TRUE(
        players.output().contains("* org.mpris.MediaPlayer2.mpv (mpv): Playing, \"track.wav\"\n    art: file://" +
                                  work.file("cover.jpg").toUtf8() + "\n"))
        << players.output().toStdString();
}

} // namespace
} // namespace glowcast::testing
