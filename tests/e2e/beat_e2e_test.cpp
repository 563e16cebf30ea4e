// The beat end to end: glowcast --headless with "beat" on "pulse" hears a 120 BPM click track that pw-play
// plays into a PipeWire of the test's own. A WLED on loopback gets the sound sync on a UDP port the test
// listens on, and the first bridge's lamps (the simulator) pulse within its pace and go back to the cover
// when the track ends. GLOWCAST_BEAT_CLICKS plays a longer track; the figures go to the test's record.

#undef QT_NO_CAST_FROM_ASCII // every text here is ASCII

#include "support/private_pipewire.h"
#include "support/private_session_bus.h"
#include "support/processes.h"
#include "support/waiting.h"

#include <gtest/gtest.h>

#include <QNetworkDatagram>
#include <QUdpSocket>

#include <algorithm>
#include <cmath>
#include <vector>

namespace glowcast::testing {
namespace {

using Seconds = std::chrono::duration<double>;

// The simulator's light PUTs as (seconds since its start, bri).
std::vector<std::pair<double, int>> brightnessPuts(Simulator& sim)
{
    std::vector<std::pair<double, int>> puts;
    for (const QJsonValue record : sim.records()) {
        const QJsonObject body = QJsonDocument::fromJson(record[u"body"].toString().toUtf8()).object();
        if (record[u"method"].toString() == u"PUT" && record[u"path"].toString().contains(u"/lights/") &&
            body.contains(u"bri"))
            puts.emplace_back(record[u"time"].toDouble(), body[u"bri"].toInt());
    }
    return puts;
}

double percentile(std::vector<double> values, double share)
{
    std::ranges::sort(values);
    return values.empty() ? -1 : values[static_cast<std::size_t>(share * static_cast<double>(values.size() - 1))];
}

TEST(BeatEndToEndTest, ClicksReachTheWledAsSoundSyncAndPulseTheBridgesLampsWithinItsPaceUntilTheTrackEnds)
{
    PrivatePipeWire pipewire; // first: the app inherits its PIPEWIRE_RUNTIME_DIR
    if (!pipewire.running)
        GTEST_SKIP() << "PipeWire cannot start here (pipewire and wireplumber of Debian's packages, in a private "
                        "runtime directory): no sound to pulse to";
    const int clicks = std::max(qEnvironmentVariableIntValue("GLOWCAST_BEAT_CLICKS"), 12);
    ASSERT_TRUE(writeClickTrack(pipewire.file("clicks.wav"), clicks));
    PrivateSessionBus bus;
    ConfigDirectory config;
    Simulator bridge{words("--lamps 2 --user alice")};
    StandIn wled{GLOWCAST_WLED_SIM};
    QUdpSocket sync;
    ASSERT_TRUE(sync.bind(QHostAddress::LocalHost) && !bridge.address.empty() && !wled.address.empty());
    bridge.control(HttpMethod::Put, "/api/alice/groups/0/action", R"({"on":true})");
    config.writePaired(bridge.address, "1+ 2+",
                       R"(,"systems":[{"id":"wled","kind":"wled","address":"http://)" + wled.address +
                           R"(","syncport":)" + std::to_string(sync.localPort()) + "}]");
    const QProcessEnvironment environment = programEnvironment(bus.address(), config.path());
    Child app(GLOWCAST_APP, {"--headless"}, environment);
    ASSERT_TRUE(app.waitForOutput("collection: ")) << app.output().toStdString();
    ASSERT_EQ(runProgram(GLOWCAST_CTL, {"config", "beat", "pulse"}, environment).exitCode, 0);
    const auto sound = [&] {
        const QString status = QString::fromStdString(runProgram(GLOWCAST_CTL, {"status"}, environment).out);
        return status.section("\nsound: ", 1).section('\n', 0, 0).toStdString();
    };
    ASSERT_TRUE(pollFor([&] { return sound() == "waiting"; }, 15'000)) << sound() << app.output().toStdString();
    ASSERT_EQ(Child(GLOWCAST_POST_COVER, {config.flatCover(Qt::red)}, environment).exitCode(), 0);
    const std::vector<std::string> red{"1:on:#fe0000", "2:on:#fe0000"};
    const auto shown = [&] {
        std::vector<std::string> lamps;
        const QJsonObject state =
            QJsonDocument::fromJson(bridge.control(HttpMethod::Get, "/sim/state").c_str()).object();
        for (const QJsonValue lamp : state[u"lamps"].toArray())
            lamps.push_back(lamp[u"id"].toString().toStdString() + (lamp[u"on"].toBool() ? ":on:" : ":off:") +
                            lamp[u"colour"].toString().toStdString());
        return lamps;
    };
    ASSERT_TRUE(pollFor([&] { return shown() == red; }, 15'000)) << app.output().toStdString();
    const std::size_t coverPuts = brightnessPuts(bridge).size();
    const int coverBri = brightnessPuts(bridge).back().second;
    // The simulator's clock against the test's: the quickest of five requests of the test's own, stamped on
    // both sides.
    std::chrono::steady_clock::time_point simStart;
    auto probe = std::chrono::steady_clock::duration::max();
    for (int each = 0; each < 5; ++each) {
        const auto before = std::chrono::steady_clock::now();
        bridge.control(HttpMethod::Get, "/api/clock-probe");
        const auto took = std::chrono::steady_clock::now() - before;
        const QJsonArray records = bridge.records();
        if (took < probe && records.last()[u"path"].toString() == u"/api/clock-probe")
            simStart = before + took / 2 -
                       std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                           Seconds(records.last()[u"time"].toDouble()));
        probe = std::min(probe, took);
    }
    // Every packet as it comes, with when: the WLED's sound sync.
    std::vector<std::pair<std::chrono::steady_clock::time_point, QByteArray>> packets;
    QObject::connect(&sync, &QUdpSocket::readyRead, [&] {
        while (sync.hasPendingDatagrams())
            packets.emplace_back(std::chrono::steady_clock::now(), sync.receiveDatagram().data());
    });
    const auto played = std::chrono::steady_clock::now();
    const auto player = pipewire.start("pw-play", {pipewire.file("clicks.wav")});
    // The event loop runs meanwhile: each packet is taken as it comes.
    ASSERT_TRUE(waitFor([&] { return player->exitCode(0) != -1; }, clicks * 500 + 20'000));
    EXPECT_EQ(player->exitCode(0), 0) << player->output().toStdString();
    ASSERT_TRUE(pollFor([&] { return sound() == "waiting"; }, 10'000)) << sound();
    const auto drained = [&] { return waitFor([&] { return !sync.hasPendingDatagrams(); }, 1'000); };
    ASSERT_TRUE(drained());
    const std::size_t sent = packets.size();
    // Back at the cover's brightness, and nothing more to the WLED.
    EXPECT_TRUE(pollFor([&] { return shown() == red; }, 10'000)) << ::testing::PrintToString(shown());
    ASSERT_TRUE(drained());
    EXPECT_EQ(packets.size(), sent);

    // Well-formed packets, a peak in one a click (the sound's start may count as one, and a machine loaded
    // far beyond its cores may cut one gap into the sound).
    std::vector<std::chrono::steady_clock::time_point> peaks;
    for (const auto& [at, packet] : packets) {
        ASSERT_EQ(packet.size(), 44) << packet.toHex().toStdString();
        ASSERT_EQ(packet.first(6), QByteArray("00002", 6)) << packet.toHex().toStdString();
        if (packet[16] == 1)
            peaks.push_back(at);
    }
    EXPECT_GE(peaks.size(), std::size_t(clicks - 2));
    EXPECT_LE(peaks.size(), std::size_t(clicks + 2));

    // Pulses: lowered and raised brightness, at most 10 states in each 1.03 s (two of slack for a late
    // request that the next one catches up).
    std::vector<std::pair<double, int>> pulses = brightnessPuts(bridge);
    pulses.erase(pulses.begin(), pulses.begin() + static_cast<std::ptrdiff_t>(coverPuts));
    EXPECT_TRUE(std::ranges::any_of(pulses, [&](const auto& put) { return put.second < coverBri; }));
    EXPECT_GE(std::ranges::count(pulses, coverBri, &std::pair<double, int>::second), clicks - 2);
    for (auto from = pulses.begin(); from != pulses.end(); ++from)
        EXPECT_LE(
            std::ranges::count_if(from, pulses.end(), [&](const auto& put) { return put.first < from->first + 1.03; }),
            12)
            << "from " << from->first << " s";

    // How long from a beat heard (its packet; the pulse goes from the same block) and from a click as the
    // track has it (pw-play's start and the server's cycles included) to the first PUT that raises a lamp.
    const auto latencies = [&](const std::vector<std::chrono::steady_clock::time_point>& from) {
        std::vector<double> found;
        for (const auto each : from) {
            const double at = Seconds(each - simStart).count();
            const auto raised = std::ranges::find_if(
                pulses, [&](const auto& put) { return put.first >= at - 0.05 && put.second == coverBri; });
            if (raised != pulses.end() && raised->first - at < 0.5)
                found.push_back((raised->first - at) * 1000);
        }
        return found;
    };
    std::vector<std::chrono::steady_clock::time_point> clickTimes;
    for (int click = 0; click < clicks; ++click)
        clickTimes.push_back(played + 1s + click * kClickEvery);
    const double music = packets.empty() ? 0 : Seconds(packets.back().first - packets.front().first).count();
    for (const auto& [name, from] : {std::pair{"beatToPulse", peaks}, {"clickToPulse", clickTimes}}) {
        const std::vector<double> measured = latencies(from);
        RecordProperty(std::string(name) + "MedianMs", std::lround(percentile(measured, 0.5)));
        RecordProperty(std::string(name) + "95Ms", std::lround(percentile(measured, 0.95)));
        RecordProperty(std::string(name) + "Count", static_cast<int>(measured.size()));
    }
    RecordProperty("clockProbeMs", static_cast<int>(probe / 1ms));
    RecordProperty("packetsPerSecond", static_cast<int>(music > 0 ? static_cast<double>(sent) / music : 0));
    RecordProperty("peaks", static_cast<int>(peaks.size()));
}

} // namespace
} // namespace glowcast::testing
