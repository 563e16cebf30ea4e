#include "core/control/glowcast_controller.h"

#include "core/beat/lamp_beat.h"
#include "support/controller_rig.h"
#include "support/fake_lamp_systems.h"
#include "support/printing.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace glowcast {
namespace {

using Lamps = std::vector<LampEntry>;
using Strings = std::vector<std::string>;
using States = std::vector<LampStateCommand>;

const PatchCover::Patch kRed{{192, 0, 0}, 1000};
const LampState kRedState{false, 191, Chromaticity{0.64, 0.33}, {}, {}};
const std::string kLights = R"({"1":{"name":"Lamp 1"},"2":{"name":"Lamp 2"}})";

// The rig with lamp systems: "z2m" reads lamps k1..k3 when the test says so.
struct SystemsRig : ControllerRig {
    FakeTimeline timeline;
    FakeLampSystemFactory factory;
    LampSystems systems{factory, timeline, timeline, log};

    SystemsRig()
    {
        controller.setLampSystems(&systems);
        systems.onLampsChanged = [this] { controller.systemLampsChanged(); };
        systems.load({{"z2m", SystemKind::Zigbee2Mqtt, "mqtt://localhost", {}, {}},
                      {"hue2", SystemKind::Bridge, "10.0.0.3", {}, {}}});
    }
    FakeLampSystem& z2m() { return *factory.made.at("z2m"); }
    // Every state z2m was handed, answering each at once.
    States z2mStates()
    {
        States states;
        for (int i = 0; i < 10; ++i, timeline.advance(std::chrono::seconds{1}))
            z2m().answerAll(SendResult::Delivered);
        for (const auto& send : z2m().sends)
            states.insert(states.end(), send.commands.begin(), send.commands.end());
        return states;
    }
};

// The walk runs over every enabled lamp in table order, the first bridge's lamp and then z2m's, both
// red; z2m is handed its state before the first bridge's walk.
TEST(ControllerSystemsTest, TheWalkTellsEveryEnabledLampAndTheTableFollowsTheFirstBridge)
{
    SystemsRig rig;
    rig.prefs.savedLamps = Lamps{{"1", "", true}, {"z2m/k2", "", true}};
    ASSERT_TRUE(rig.setUpPaired(kLights));
    rig.z2m().told().lampsRead(colourLamps(2));
    EXPECT_EQ(
        rig.controller.collection(),
        (Lamps{
            {"1", "Lamp 1", true}, {"2", "Lamp 2", false}, {"z2m/k1", "Lamp 1", false}, {"z2m/k2", "Lamp 2", true}}));
    rig.log.lines.clear();
    rig.http.sent.clear();
    std::vector<std::size_t> requestsAtSends; // the first bridge's requests made before each of z2m's sends
    rig.z2m().whenSent = [&] { requestsAtSends.push_back(rig.http.sent.size()); };
    rig.postCover({kRed});
    std::erase_if(rig.log.lines, [](const std::string& line) { return line.starts_with("returning array"); });
    EXPECT_EQ(rig.log.lines,
              (Strings{"enabledcount returning 2", "enabledcount returning 2", "xyValue returning [0.640,0.330]",
                       "getIDofNthEnabled returning 1", "no response from Bridge", "enabledcount returning 2",
                       "getIDofNthEnabled returning z2m/k2", "enabledcount returning 2"}));
    EXPECT_EQ(rig.z2mStates(), (States{{"k2", kRedState}}));
    EXPECT_EQ(requestsAtSends, std::vector<std::size_t>{0});
}

// Each row: whether the first bridge was set up, and the lamps saved at the quit.
TEST(ControllerSystemsTest, SavingKeepsTheChoicesOfSystemsWhoseLampsWereNotRead)
{
    const Lamps before{{"1", "", true}, {"z2m/k1", "", true}, {"z2m/gone", "", true}, {"hue2/5", "", true}};
    const std::vector<std::pair<bool, Lamps>> rows{
        {true, {{"1", "Lamp 1", true}, {"2", "Lamp 2", false}, {"z2m/k1", "Lamp 1", true}, {"hue2/5", "", true}}},
        {false, {{"z2m/k1", "Lamp 1", true}, {"1", "", true}, {"hue2/5", "", true}}},
    };
    for (const auto& [bridgeSetUp, saved] : rows) {
        SystemsRig rig;
        rig.prefs.savedLamps = before;
        ASSERT_TRUE(!bridgeSetUp || rig.setUpPaired(kLights));
        rig.z2m().told().lampsRead(colourLamps(0));
        EXPECT_EQ(rig.covers.followers.size(), bridgeSetUp ? 1u : 0u) << "no lamp yet, no covers";
        rig.z2m().told().lampsRead(colourLamps(1));
        EXPECT_EQ(rig.covers.followers.size(), 1u) << "covers followed either way";
        rig.controller.saveBeforeQuit();
        EXPECT_EQ(rig.prefs.savedLamps, saved);
        rig.controller.stop();
        EXPECT_EQ(rig.z2m().stops, 1) << "a quit stops the systems";
    }
}

// Another system's lamps alone make the restore due, and it puts them back with the first bridge's.
TEST(ControllerSystemsTest, ThePauseRestorePutsBackAnotherSystemsLamps)
{
    using namespace std::chrono_literals;
    SystemsRig rig;
    rig.prefs.savedLamps = Lamps{{"z2m/k1", "", true}};
    rig.z2m().told().lampsRead(colourLamps(1));
    ASSERT_TRUE(rig.setUpPaired(kLights));
    rig.lampCare.setSettings(settingsOf({{"restoreAfter", 5}}));
    rig.z2m().lampStates = {{"k1", {true, {false, 1, {}, {}, {}}}}};
    int asked = 0;
    rig.controller.onPlayingAfterRestore = [&asked] { ++asked; };
    rig.postCover({kRed});
    EXPECT_EQ(rig.z2mStates(), (States{{"k1", kRedState}}));
    rig.controller.followedPlayerChanged({true, "mpv", "", PlaybackStatus::Paused, "", ""});
    rig.clock.sleeper.sleep(5s);
    ASSERT_TRUE(rig.scheduler.fireNext());
    EXPECT_EQ(rig.z2m().putBacks, (States{{"k1", {true, 1, {}, {}, {}}}}));
    rig.controller.followedPlayerChanged({true, "mpv", "", PlaybackStatus::Playing, "", ""});
    EXPECT_EQ(asked, 1);
}

// The beat takes the cover's states of the first bridge's lamps and of each system but a WLED (which hears
// the sound sync); a pause brings them back at once.
TEST(ControllerSystemsTest, TheBeatPulsesTheFirstBridgeAndEachSystemButAWledUntilThePlayerPauses)
{
    SystemsRig rig;
    struct : DatagramSender {
        void send(std::string_view, std::uint16_t, std::span<const std::uint8_t>) override {}
    } datagrams;
    LampBeat beat{rig.timeline, rig.timeline, datagrams};
    Strings pulses;
    beat.onPulse = [&](const std::string& id, const LampStateCommand& command) {
        pulses.push_back(id + "/" + command.key + "=" + std::to_string(command.state.brightness.value_or(-1)));
    };
    beat.setMode(BeatMode::Pulse);
    rig.controller.setBeat(&beat);
    ASSERT_TRUE(rig.systems.add({"w", SystemKind::Wled, "w.local", {}, {}}).ok());
    rig.prefs.savedLamps = Lamps{{"1", "", true}, {"z2m/k1", "", true}, {"w/k1", "", true}};
    ASSERT_TRUE(rig.setUpPaired(kLights));
    rig.z2m().told().lampsRead(colourLamps(1));
    rig.factory.made.at("w")->told().lampsRead(colourLamps(1));
    rig.postCover({kRed});
    beat.heard(rig.timeline.now(), SoundFrame{.beat = true, .silent = false});
    EXPECT_EQ(pulses, (Strings{"/1=191", "z2m/k1=191"}));
    rig.controller.followedPlayerChanged({true, "mpv", "", PlaybackStatus::Paused, "", ""});
    rig.timeline.advance(std::chrono::seconds{1});
    EXPECT_EQ(pulses, (Strings{"/1=191", "z2m/k1=191", "/1=191", "z2m/k1=191"}));
}

} // namespace
} // namespace glowcast
