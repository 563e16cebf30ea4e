#include "core/beat/lamp_beat.h"

#include "support/fake_lamp_systems.h"
#include "support/recording_log.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace glowcast {
namespace {

using namespace std::chrono_literals;

// Records each datagram as "host:port frameCounter peak".
class RecordingDatagrams final : public DatagramSender {
public:
    std::vector<std::string> sent;
    void send(std::string_view host, std::uint16_t port, std::span<const std::uint8_t> bytes) override
    {
        sent.push_back(std::string{host} + ":" + std::to_string(port) + " " + std::to_string(bytes[17]) + " " +
                       std::to_string(bytes[16]));
    }
};

// The beat over a zigbee2mqtt system "z2m" of lamps k1 and k2, red at 200, at 5 states a second; each send
// answered at once.
struct BeatRig {
    FakeTimeline timeline;
    FakeLampSystemFactory factory;
    RecordingLog log;
    LampSystems systems{factory, timeline, timeline, log};
    RecordingDatagrams datagrams;
    LampBeat beat{timeline, timeline, datagrams};
    const LampState red{false, 200, Chromaticity{0.64, 0.33}, {}, {}};
    std::string sent;                 // "ms:key=brightness " for each state z2m was sent, from the start
    std::map<std::string, int> shown; // each lamp's last brightness sent

    BeatRig()
    {
        systems.load({{"z2m", SystemKind::Zigbee2Mqtt, "mqtt://localhost", {}, {}}});
        FakeLampSystem& z2m = *factory.made.at("z2m");
        z2m.told().lampsRead(colourLamps(2));
        z2m.whenSent = [this, &z2m] {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(timeline.now() - SteadyTime{});
            for (const LampStateCommand& command : z2m.sends.back().commands) {
                sent += std::to_string(ms.count()) + ":" + command.key + "=" +
                        std::to_string(command.state.brightness.value_or(-1)) + " ";
                shown[command.key] = command.state.brightness.value_or(-1);
            }
            std::exchange(z2m.sends.back().done, nullptr)(SendResult::Delivered);
        };
        beat.onPulse = [this](const std::string& id, const LampStateCommand& command) { systems.pulse(id, command); };
        beat.setMode(BeatMode::Pulse);
        beat.soundStateChanged(SoundCaptureState::Capturing);
        beat.setSyncTargets({{"wled.local", 11988}});
        cover(0ms);
    }
    void cover(std::chrono::milliseconds lag) { beat.coverSent({{"z2m", 5, 1s, lag, {{"k1", red}, {"k2", red}}}}); }
    // A block every 20 ms for `length`, a beat each `every`.
    void play(std::chrono::milliseconds length, std::chrono::milliseconds every, bool silent = false)
    {
        for (auto ms = 0ms; ms < length; ms += 20ms, timeline.advance(20ms)) {
            SoundFrame frame;
            frame.beat = !silent && ms % every == 0ms;
            frame.silent = silent;
            beat.heard(timeline.now(), frame);
        }
    }
};

TEST(LampBeatTest, EachBeatPulsesTheLampsAtTheSystemsPaceWithoutALogLine)
{
    BeatRig rig;
    rig.play(1000ms, 500ms);
    // A newer state of a lamp keeps the place of the one it replaces: k2's second peak goes before k1's.
    EXPECT_EQ(rig.sent, "0:k1=200 200:k2=200 400:k1=120 600:k2=200 800:k1=200 1000:k2=120 ");
    EXPECT_TRUE(rig.log.lines.empty());
}

TEST(LampBeatTest, ALaggingSpeakerLagsThePulses)
{
    BeatRig rig;
    rig.cover(600ms);
    rig.play(1000ms, 1000ms);
    EXPECT_EQ(rig.sent, "600:k1=200 800:k2=200 1000:k1=120 ");
}

// Each way the music ends: within a second every lamp is back at its cover and no packet follows, though
// the paused player's sound may go on.
TEST(LampBeatTest, WhenTheMusicEndsTheLampsGoBackWithinASecondAndThePacketsStop)
{
    const std::vector<std::pair<std::string, std::function<void(BeatRig&)>>> rows{
        {"paused", [](BeatRig& rig) { rig.beat.playerChanged(false); }},
        {"capture ended", [](BeatRig& rig) { rig.beat.soundStateChanged(SoundCaptureState::Waiting); }},
        {"2 s of silence", [](BeatRig& rig) { rig.play(2000ms, 1000ms, true); }},
    };
    for (const auto& [why, end] : rows) {
        BeatRig rig;
        rig.play(1000ms, 250ms);
        end(rig);
        const std::size_t packets = rig.datagrams.sent.size();
        rig.play(1000ms, 250ms, why != "paused");
        EXPECT_EQ(rig.shown, (std::map<std::string, int>{{"k1", 200}, {"k2", 200}})) << why << ": " << rig.sent;
        EXPECT_EQ(rig.datagrams.sent.size(), packets) << why;
        EXPECT_FALSE(rig.beat.playing()) << why;
    }
}

// Blocks of 10 ms: a packet each 22 ms or so, to each target at once, a beat between them in the next.
TEST(LampBeatTest, SoundSyncGoesToEachTargetAtOnceSome45ASecond)
{
    BeatRig rig;
    rig.beat.setSyncTargets({{"wled.local", 11988}, {"10.0.0.7", 21324}});
    for (auto ms = 0ms; ms < 100ms; ms += 10ms, rig.timeline.advance(10ms))
        rig.beat.heard(rig.timeline.now(), SoundFrame{.beat = ms == 10ms, .silent = false});
    EXPECT_EQ(rig.datagrams.sent,
              (std::vector<std::string>{"wled.local:11988 0 0", "10.0.0.7:21324 0 0", "wled.local:11988 1 1",
                                        "10.0.0.7:21324 1 1", "wled.local:11988 2 0", "10.0.0.7:21324 2 0",
                                        "wled.local:11988 3 0", "10.0.0.7:21324 3 0", "wled.local:11988 4 0",
                                        "10.0.0.7:21324 4 0"}));
}

TEST(LampBeatTest, OffSendsNothing)
{
    BeatRig rig;
    rig.beat.setMode(BeatMode::Off);
    rig.sent.clear();
    rig.play(1000ms, 250ms);
    EXPECT_EQ(rig.sent, "");
    EXPECT_TRUE(rig.datagrams.sent.empty());
}

TEST(LampBeatTest, TheBeatSettingsWordsNameTheModes)
{
    for (const auto& [word, mode] :
         {std::pair{"off", BeatMode::Off}, std::pair{"calm", BeatMode::Calm}, std::pair{"pulse", BeatMode::Pulse}})
        EXPECT_EQ(beatModeNamed(word), mode) << word;
    EXPECT_EQ(beatModeNamed("Pulse"), std::nullopt);
}

TEST(SoundSyncTargetsTest, EachWledWithASyncPortByItsHost)
{
    const std::vector<SystemRecord> records{{"w", SystemKind::Wled, "http://wled.local:8080", {}, {}},
                                            {"w2", SystemKind::Wled, "10.0.0.7", {}, {}, 0ms, 21324},
                                            {"w3", SystemKind::Wled, "http://[fe80::1]:80", {}, {}},
                                            {"none", SystemKind::Wled, "10.0.0.8", {}, {}, 0ms, 0},
                                            {"z2m", SystemKind::Zigbee2Mqtt, "mqtt://10.0.0.9", {}, {}}};
    EXPECT_EQ(soundSyncTargets(records),
              (std::vector<SoundSyncTarget>{{"wled.local", 11988}, {"10.0.0.7", 21324}, {"fe80::1", 11988}}));
}

} // namespace
} // namespace glowcast
