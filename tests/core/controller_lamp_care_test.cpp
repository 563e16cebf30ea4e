// The controller's lamp requests through lamp care: the same cover again gives no lamp that is still
// fading a new state; a new cover does.
#include "support/controller_rig.h"

#include <gtest/gtest.h>

namespace glowcast {
namespace {

TEST(ControllerLampCareTest, TheSameCoverGivesAFadingLampNoNewStateAndANewCoverDoes)
{
    ControllerRig rig;
    rig.prefs.savedLamps = {{"1", "", true}, {"2", "", true}};
    ASSERT_TRUE(rig.setUpPaired(R"({"1":{"name":"A"},"2":{"name":"B"}})"));
    rig.lampCare.setSettings(settingsOf({{"fade", 10}}));
    const auto post = [&rig](std::uint8_t bytes) {
        rig.postCover({{{255, 0, 0}, 2000}, {{0, 192, 0}, 1000}}, {bytes});
    };
    post(1);
    ASSERT_TRUE(rig.controller.setLampEnabled("1", false)); // lamp 2 now takes the first colour
    post(1);
    post(2);
    const std::string red = R"({"bri":255,"xy":[0.640,0.330],"transitiontime":10})";
    ASSERT_EQ(rig.http.sent.size(), 4u); // the lamp list, lamps 1 and 2, and lamp 2 for the new cover only
    EXPECT_EQ(rig.http.sent[1].body, red);
    EXPECT_EQ(rig.http.sent[3].url, "http://10.0.0.2/api/alice/lights/2/state");
    EXPECT_EQ(rig.http.sent[3].body, red);
}

// The put-back is armed when the followed player pauses and runs when its time has come; a player
// that has not said what it does arms nothing.
TEST(ControllerLampCareTest, APausedPlayerGetsTheLampsPutBackWhenTheirTimeComes)
{
    using namespace std::chrono_literals;
    ControllerRig rig;
    rig.prefs.savedLamps = {{"1", "", true}};
    ASSERT_TRUE(rig.setUpPaired(R"({"1":{"name":"A"}})"));
    rig.lampCare.setSettings(settingsOf({{"restoreAfter", 5}}));
    rig.http.replies = {R"({"state":{"on":true,"bri":7}})", "[]"}; // lamp 1's own state, then its colour
    rig.postCover({{{255, 0, 0}, 2000}});
    const auto player = [&rig](PlaybackStatus status) {
        rig.controller.followedPlayerChanged({true, "org.mpris.MediaPlayer2.a", "", status, "", ""});
    };
    player(PlaybackStatus::Playing);
    player(PlaybackStatus::Unknown);
    EXPECT_TRUE(rig.scheduler.pending.empty());
    player(PlaybackStatus::Paused);
    ASSERT_EQ(rig.scheduler.pending.size(), 1u);
    EXPECT_EQ(rig.scheduler.pending[0].delay, 5000ms);
    rig.clock.sleeper.sleep(5s);
    ASSERT_TRUE(rig.scheduler.fireNext());
    EXPECT_EQ(rig.http.sent.back().url, "http://10.0.0.2/api/alice/lights/1/state");
    EXPECT_EQ(rig.http.sent.back().body, R"({"on":true,"bri":7})");
}

} // namespace
} // namespace glowcast
