// The controller's lamp requests through lamp care: the same cover again gives no lamp that is still
// fading a new state; a new cover does.
#include "support/controller_rig.h"

#include <gtest/gtest.h>

#include <functional>

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
    ASSERT_EQ(rig.controller.setLampEnabled("1", false), SwitchResult::Done); // lamp 2 now takes the first colour
    post(1);
    post(2);
    const std::string red = R"({"bri":255,"xy":[0.640,0.330],"transitiontime":10})";
    ASSERT_EQ(rig.http.sent.size(), 4u); // the lamp list, lamps 1 and 2, and lamp 2 for the new cover only
    EXPECT_EQ(rig.http.sent[1].body, red);
    EXPECT_EQ(rig.http.sent[3].url, "http://10.0.0.2/api/alice/lights/2/state");
    EXPECT_EQ(rig.http.sent[3].body, red);
}

TEST(ControllerLampCareTest, AfterAQuitIsAskedForNothingMoreIsSentAndNoSetUpStarts)
{
    struct Row {
        const char* what;
        int stopDuringSleep; // of lamp care's paced waits; 0: before the cover
        std::size_t puts;
        const char* line;
    };
    const Row rows[] = {
        {"before the cover", 0, 0, "quitting: a cover change from \"Coverdeck\" was not handled"},
        {"while the second lamp waits its turn", 1, 1, "quitting: the rest of this cover's lamps are not sent"},
        {"while the third lamp waits its turn", 2, 2, "quitting: the rest of this cover's lamps are not sent"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ControllerRig rig;
        rig.prefs.savedLamps = {{"1", "", true}, {"2", "", true}, {"3", "", true}};
        ASSERT_TRUE(rig.setUpPaired(R"({"1":{"name":"A"},"2":{"name":"B"},"3":{"name":"C"}})"));
        rig.lampCare.setSettings(settingsOf({{"pace", 1}}));
        rig.http.sent.clear();
        if (row.stopDuringSleep == 0)
            rig.controller.stop();
        rig.clock.sleeper.duringSleep = [&rig, &row] {
            if (rig.clock.sleeper.calls == row.stopDuringSleep)
                rig.controller.stop();
        };
        rig.postCover({{{255, 0, 0}, 3000}, {{0, 192, 0}, 2000}, {{0, 0, 255}, 1000}});
        EXPECT_EQ(rig.http.sent.size(), row.puts);
        EXPECT_EQ(rig.log.lines.back(), row.line);

        rig.controller.setUp(); // a set-up asked for meanwhile
        EXPECT_EQ(rig.log.lines.back(), "quitting: no set-up");
        EXPECT_EQ(rig.http.sent.size(), row.puts);
        rig.controller.saveBeforeQuit();
        EXPECT_EQ(rig.prefs.lampWrites, 1) << "the saving at the end still runs";
    }
}

// The put-back is armed when the followed player pauses and runs when its time has come; a player
// that has not said what it does arms nothing. Playing again after it asks for the cover again, once.
TEST(ControllerLampCareTest, APausedPlayerGetsTheLampsPutBackAndPlayingAgainAsksForTheCoverOnce)
{
    ControllerRig rig;
    rig.prefs.savedLamps = {{"1", "", true}};
    ASSERT_TRUE(rig.setUpPaired(R"({"1":{"name":"A"}})"));
    rig.lampCare.setSettings(settingsOf({{"restoreAfter", 10}}));
    int asked = 0;
    rig.controller.onPlayingAfterRestore = [&asked] { ++asked; };
    const auto player = [&rig](PlaybackStatus status) {
        rig.controller.followedPlayerChanged({true, "mpv", "", status, "", ""});
    };
    const auto cover = [&rig] {
        rig.http.replies.emplace_back(R"({"state":{"on":true,"bri":100,"ct":300,"colormode":"ct"}})");
        rig.http.replies.emplace_back(R"([{"success":{}}])");
        rig.decoder.covers.push_back(std::make_unique<PatchCover>(std::vector<PatchCover::Patch>{{{255, 0, 0}, 6400}}));
        rig.covers.post({std::vector<std::uint8_t>{1}, "mpv", true});
    };
    const auto restore = [&rig] {
        ASSERT_EQ(rig.scheduler.pending.size(), 1u);
        EXPECT_EQ(rig.scheduler.pending[0].delay, std::chrono::seconds{10});
        rig.clock.sleeper.slept += std::chrono::seconds{10};
        rig.http.replies.emplace_back(R"([{"success":{}}])");
        ASSERT_TRUE(rig.scheduler.fireNext());
        EXPECT_EQ(rig.http.sent.back().url, "http://10.0.0.2/api/alice/lights/1/state");
        EXPECT_EQ(rig.http.sent.back().body, R"({"on":true,"bri":100,"ct":300})");
    };
    struct Step {
        const char* what;
        std::function<void()> act;
        int asked; // in all, afterwards
    };
    const Step steps[] = {
        {"playing", [&] { player(PlaybackStatus::Playing); }, 0},
        {"a cover", cover, 0},
        {"not saying",
         [&] {
             player(PlaybackStatus::Unknown);
             EXPECT_TRUE(rig.scheduler.pending.empty());
         },
         0},
        {"paused", [&] { player(PlaybackStatus::Paused); }, 0},
        {"the lamps put back", restore, 0},
        {"playing again", [&] { player(PlaybackStatus::Playing); }, 1},
        {"paused, nothing put back", [&] { player(PlaybackStatus::Paused); }, 1},
        {"playing once more", [&] { player(PlaybackStatus::Playing); }, 1},
        {"the cover again", cover, 1},
        {"stopped", [&] { player(PlaybackStatus::Stopped); }, 1},
        {"put back again", restore, 1},
        {"a new track's cover first", cover, 1},
        {"then playing", [&] { player(PlaybackStatus::Playing); }, 1},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        EXPECT_EQ(asked, step.asked);
    }
}

} // namespace
} // namespace glowcast
