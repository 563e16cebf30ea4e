#include "core/control/glowcast_controller.h"
#include "core/control/operation_queue.h"
#include "support/controller_rig.h"
#include "support/printing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace glowcast {
namespace {

using namespace std::chrono_literals;
using Patch = PatchCover::Patch;
using Lamps = std::vector<LampEntry>;
using Strings = std::vector<std::string>;

// Flat colours that the extractor keeps apart: neither dark nor bright, each in its own hue sector.
// 192 and 96 quantise to 0.75 and 0.375 exactly. The more pixels, the earlier in the colour list.
const std::vector<Patch> kSevenColours = {{{192, 0, 0}, 1000}, {{192, 192, 0}, 900}, {{96, 192, 0}, 800},
                                          {{0, 192, 0}, 700},  {{0, 192, 192}, 600}, {{0, 0, 192}, 500},
                                          {{192, 0, 192}, 400}};
// What the extractor makes of the first three, and their bodies: brightness out of 128 for hues between
// 0.2 and 0.75, else out of 255; the green moved to the fixed green. The others are the palette's to show.
const std::vector<Colour> kThreeShown = {{0.75, 0, 0}, {0.75, 0.75, 0}, {0.375, 0.75, 0}};
const std::vector<std::string> kThreeBodies = {R"({"bri":191,"xy":[0.640,0.330]})", R"({"bri":191,"xy":[0.419,0.505]})",
                                               R"({"bri":96,"xy":[0.410,0.510]})"};
const Patch kRed = kSevenColours[0];
const std::string kZeroBody = R"({"bri":0,"sat":0})";
const std::string kPutSuccess = R"([{"success":{"/lights/1/state/bri":255}}])";
const std::string kUnauthorised = R"([{"error":{"type":1,"address":"/","description":"unauthorized user"}}])";

std::string stateUrl(const std::string& id)
{
    return "http://10.0.0.2/api/alice/lights/" + id + "/state";
}

// The lights reply of a bridge listing the given ids, each named "Lamp <id>".
std::string lightsReply(const Strings& ids)
{
    std::string reply;
    for (const std::string& id : ids)
        reply += (reply.empty() ? "{\"" : ",\"") + id + R"(":{"name":"Lamp )" + id + "\"}";
    return reply.empty() ? "{}" : reply + "}";
}

// The rig with a paired bridge at 10.0.0.2 and the window's views connected.
struct WindowRig : ControllerRig {
    FakeLampListView table;
    FakeCoverDisplay display;

    WindowRig()
    {
        prefs.texts["username"] = "alice";
        prefs.texts["lastusedbridgeIP"] = "10.0.0.2";
        controller.connectViews({&table, &display});
    }

    void setUpWith(const std::string& reply) { ASSERT_TRUE(setUpPaired(reply)); }

    // Sets up with lamps "1".."count", every one of them saved as enabled.
    void setUpWithEnabledLamps(int count)
    {
        Strings ids;
        prefs.savedLamps.emplace();
        for (int i = 1; i <= count; ++i) {
            ids.push_back(std::to_string(i));
            prefs.savedLamps->push_back({ids.back(), "", true});
        }
        setUpWith(lightsReply(ids));
        http.sent.clear();
        log.lines.clear();
    }

    [[nodiscard]] Strings sent(std::string HttpRequest::*field) const
    {
        Strings out;
        for (const HttpRequest& request : http.sent)
            out.push_back(request.*field);
        return out;
    }
};

class GlowcastControllerTest : public ::testing::Test, protected WindowRig {};

// Starting schedules one set-up a quarter second later; an activation before then sets up at once, the
// delayed call sets up again but registers once, and an activation after it starts nothing.
TEST_F(GlowcastControllerTest, StartingSchedulesOneSetUpAndAnActivationBeforeItSetsUpTooButRegistersOnce)
{
    prefs.savedLamps = Lamps{{"1", "Desk", true}};
    controller.start();
    controller.start();
    ASSERT_EQ(scheduler.pending.size(), 1u) << "a second start schedules nothing";
    EXPECT_EQ(scheduler.pending[0].delay, std::chrono::milliseconds(250));
    EXPECT_FALSE(controller.attemptedSetUp());
    EXPECT_TRUE(http.sent.empty());

    http.replies.emplace_back(lightsReply({"1", "2"}));
    controller.windowActivated();
    controller.windowActivated();
    EXPECT_EQ(log.count("hub launching"), 1) << "the activation trigger is guarded";
    EXPECT_TRUE(controller.attemptedSetUp());
    EXPECT_EQ(http.sent, (std::vector<HttpRequest>{{HttpMethod::Get, "http://10.0.0.2/api/alice/lights", "", 30s}}));

    // The bridge now lists a third lamp: the second set-up refreshes the collection and the table.
    http.replies.emplace_back(lightsReply({"1", "2", "3"}));
    ASSERT_TRUE(scheduler.fireNext());
    EXPECT_EQ(log.count("hub launching"), 2);
    EXPECT_EQ(log.count("registering for notifications"), 1);
    EXPECT_EQ(table.told, (Strings{"refill", "refill", "refill"})) << "emptied at the start, then each set-up";
    EXPECT_EQ(controller.collection(), (Lamps{{"1", "Lamp 1", true}, {"2", "Lamp 2", false}, {"3", "Lamp 3", false}}));
    controller.windowActivated();
    EXPECT_EQ(log.count("hub launching"), 2) << "an activation after the delay starts nothing";

    http.sent.clear();
    http.replies.emplace_back(kPutSuccess);
    postCover({kRed});
    EXPECT_EQ(sent(&HttpRequest::url), Strings{stateUrl("1")}) << "one cover change colours each lamp once";
}

TEST_F(GlowcastControllerTest, NoBridgeAddressAbandonsTheSetUpAndQuitKeepsTheSavedSelection)
{
    const Lamps saved{{"1", "Desk", true}};
    prefs.savedLamps = saved;
    prefs.texts.erase("lastusedbridgeIP");
    controller.start();
    ASSERT_TRUE(scheduler.fireNext());
    EXPECT_EQ(log.count("tried lights response, result is (null)"), 1);
    EXPECT_EQ(log.count("hub abandoning setup"), 1);
    EXPECT_EQ(alert.shown.size(), 1u);
    EXPECT_TRUE(covers.followers.empty());
    EXPECT_EQ(table.told, Strings{"refill"});

    controller.windowActivated();
    EXPECT_EQ(log.count("hub launching"), 1) << "an abandoned set-up stays abandoned";

    controller.saveBeforeQuit();
    EXPECT_EQ(log.count("no lamp list was read, keeping the saved selection"), 1);
    EXPECT_EQ(prefs.lampWrites, 0);
    EXPECT_EQ(prefs.savedLamps, saved);
}

// Pairing anew after a refused user name is the bridge client's; the set-up goes on with the new one.
TEST_F(GlowcastControllerTest, ALampListUnansweredAfterPairingAnewAbandonsAtPointTwo)
{
    prefs.savedLamps = Lamps{{"1", "Desk", true}};
    http.replies = {kUnauthorised, R"([{"success":{"username":"bob"}}])", std::nullopt};
    controller.start();
    ASSERT_TRUE(scheduler.fireNext());
    EXPECT_EQ(sent(&HttpRequest::url),
              (Strings{"http://10.0.0.2/api/alice/lights", "http://10.0.0.2/api", "http://10.0.0.2/api/bob/lights"}));
    EXPECT_EQ(log.count("hub abandoning setup point 2"), 1);
    EXPECT_EQ(log.count("hub abandoning setup"), 0);
    EXPECT_TRUE(covers.followers.empty());
}

TEST_F(GlowcastControllerTest, AnAbandonedSetUpOnActivationIsRetriedByTheDelayedCall)
{
    controller.start();
    http.replies.emplace_back(std::nullopt); // the lights request
    controller.windowActivated();            // pairing then gets no reply 30 times
    EXPECT_EQ(log.count("hub abandoning setup"), 1);
    EXPECT_TRUE(covers.followers.empty());

    http.replies.emplace_back(lightsReply({"1"}));
    ASSERT_TRUE(scheduler.fireNext());
    EXPECT_EQ(covers.followers.size(), 1u);
    EXPECT_EQ(controller.collection().size(), 1u);
}

// The lamp list itself is read by lampsFromLightsReply and each lamp given its saved choice by the
// collection; here, what the controller makes of them.
TEST_F(GlowcastControllerTest, MergeKeepsTheBridgesLampsWithTheirFirstSavedChoice)
{
    const Lamps desk{{"1", "Desk", true}};
    // What, the saved lamps, the reply, the lamps merged, and whether the reply is no lamp list (nothing
    // changes, quitting keeps the saved selection).
    // clang-format off
    const std::tuple<const char*, std::optional<Lamps>, std::string, Lamps, bool> rows[] = {
        {"saved lamp gone, new lamp disabled", Lamps{{"1", "Old name", true}, {"9", "Gone", true}}, lightsReply({"1", "2"}), {{"1", "Lamp 1", true}, {"2", "Lamp 2", false}}, false},
        {"no lamps", desk, "{}", {}, false},
        {"an error page", desk, "<html>502 Bad Gateway</html>", {}, true},
    };
    // clang-format on
    for (const auto& [what, saved, reply, merged, abandoned] : rows) {
        SCOPED_TRACE(what);
        WindowRig rig;
        rig.prefs.savedLamps = saved;
        rig.setUpWith(reply);
        EXPECT_EQ(rig.controller.collection(), merged);
        EXPECT_EQ(rig.log.count("hub abandoning setup: the lights reply is not a lamp list"), abandoned ? 1 : 0);
        EXPECT_EQ(rig.table.told.size(), abandoned ? 1u : 2u);
        EXPECT_EQ(rig.covers.followers.size(), abandoned ? 0u : 1u);
        rig.controller.saveBeforeQuit();
        EXPECT_EQ(rig.prefs.savedLamps, abandoned ? saved : merged);
    }
    WindowRig rig;
    rig.setUpWith(lightsReply({"1", "2"}));
    EXPECT_EQ(rig.log.count(R"(collection: ({"id":"1","name":"Lamp 1","enabled":false}, )"
                            R"({"id":"2","name":"Lamp 2","enabled":false}))"),
              1);
}

// Toggled lamps take the next cover in collection order, told in the log as a walk over the
// collection (an unreachable bridge is tried once per lamp); the toggles are stored on quit. Refusals
// and the table's rows are the control's table.
TEST_F(GlowcastControllerTest, TogglesPickTheLampsOfTheNextCoverAndAreStoredOnQuit)
{
    prefs.savedLamps = Lamps{{"b", "", true}, {"d", "", true}, {"e", "", true}, {"a", "", false}};
    setUpWith(R"({"a":{"name":"A"},"b":{"name":"B"},"c":{"name":"C"},"d":{"name":"D"},"e":{"name":"E"}})");
    ASSERT_EQ(controller.setLampEnabled("d", false), SwitchResult::Done);
    ASSERT_EQ(controller.setLampEnabled("c", true), SwitchResult::Done);
    http.sent.clear();
    log.lines.clear();
    postCover({kRed});
    EXPECT_EQ(sent(&HttpRequest::url), (Strings{stateUrl("b"), stateUrl("c"), stateUrl("e")}));
    // The eyedropper's two counts: one colour found, three handed out.
    Strings walk{"enabledcount returning 3", "returning array with 1 elements", "returning array with 3 elements"};
    for (const char* id : {"b", "c", "e"})
        walk.insert(walk.end(), {"enabledcount returning 3", "xyValue returning [0.640,0.330]",
                                 std::string("getIDofNthEnabled returning ") + id, "no response from Bridge"});
    walk.emplace_back("enabledcount returning 3");
    EXPECT_EQ(log.lines, walk);

    controller.saveBeforeQuit();
    EXPECT_EQ(log.lines.back(), "hub should terminate");
    EXPECT_EQ(prefs.savedLamps,
              (Lamps{{"a", "A", false}, {"b", "B", true}, {"c", "C", true}, {"d", "D", false}, {"e", "E", true}}));
}

// The display shows the cover and one colour per enabled lamp; each enabled lamp gets one request, the
// k-th lamp colour k, or the zero body when the cover gives no colour.
TEST_F(GlowcastControllerTest, CoverChangeShowsUpToFiveColoursAndSendsOnePerEnabledLamp)
{
    using Bytes = std::vector<std::uint8_t>;
    const Bytes jpeg{0xff, 0xd8, 0xff};
    // Only dark and mid-grey pixels: nothing passes the extractor's filter.
    const std::vector<Patch> grey{{{40, 10, 10}, 3000}, {{128, 128, 128}, 3000}};
    // What, the enabled lamps, the cover (none: its bytes do not decode), its bytes (none: a notice
    // without a cover, which decodes nothing), the colours of kSevenColours on the display and in the
    // bodies, and whether the notice is a player's.
    // clang-format off
    const std::tuple<const char*, int, std::optional<std::vector<Patch>>, Bytes, std::size_t, bool> rows[] = {
        {"no lamps", 0, kSevenColours, jpeg, 0, false},
        {"three lamps", 3, kSevenColours, jpeg, 3, false},
        {"no colour in the cover", 3, grey, jpeg, 0, false},
        {"cover does not decode", 3, std::nullopt, {'n', 'o', 'p', 'e'}, 0, false},
        {"no cover in the notice", 3, std::nullopt, {}, 0, false},
        {"a player's cover that decodes", 3, kSevenColours, jpeg, 3, true},
        {"a player's cover that does not decode", 3, std::nullopt, {'c', 'u', 't'}, 0, true},
    };
    // clang-format on
    for (const auto& [what, lamps, cover, bytes, colours, fromPlayer] : rows) {
        SCOPED_TRACE(what);
        WindowRig rig;
        rig.setUpWithEnabledLamps(lamps);
        if (cover)
            rig.decoder.covers.push_back(std::make_unique<PatchCover>(*cover));
        rig.covers.post({bytes, "Coverdeck", fromPlayer});
        EXPECT_EQ(rig.decoder.decoded, bytes.empty() ? std::vector<Bytes>{} : std::vector<Bytes>{bytes});
        if (fromPlayer && !cover) { // nothing shown, nothing sent
            EXPECT_TRUE(rig.display.shown.empty());
            EXPECT_TRUE(rig.sent(&HttpRequest::url).empty());
            EXPECT_EQ(rig.log.lines.back(), "players: the cover does not decode; the lamps stay as they are");
            continue;
        }
        ASSERT_EQ(rig.display.shown.size(), 1u);
        EXPECT_EQ(rig.display.shown[0].cover != nullptr, cover.has_value());
        EXPECT_EQ(rig.display.shown[0].colours,
                  std::vector<Colour>(kThreeShown.begin(), kThreeShown.begin() + colours));
        Strings urls, bodies;
        for (std::size_t k = 0; k < static_cast<std::size_t>(lamps); ++k) {
            urls.push_back(stateUrl(std::to_string(k + 1)));
            bodies.push_back(k < colours ? kThreeBodies[k] : kZeroBody);
        }
        EXPECT_EQ(rig.sent(&HttpRequest::url), urls);
        EXPECT_EQ(rig.sent(&HttpRequest::body), bodies);
        EXPECT_TRUE(std::ranges::all_of(rig.http.sent, [](auto& r) { return r.method == HttpMethod::Put; }));
    }
}

// The controller's lamp requests go through lamp care: the same cover again gives no lamp that is still
// fading a new state; a new cover does.
TEST_F(GlowcastControllerTest, TheSameCoverGivesAFadingLampNoNewStateAndANewCoverDoes)
{
    setUpWithEnabledLamps(2);
    lampCare.setSettings(settingsOf({{"fade", 10}}));
    const std::vector<Patch> redGreen{{{255, 0, 0}, 2000}, {{0, 192, 0}, 1000}};
    postCover(redGreen, {1});
    ASSERT_EQ(controller.setLampEnabled("1", false), SwitchResult::Done); // lamp 2 now takes the first colour
    postCover(redGreen, {1});
    postCover(redGreen, {2});
    const std::string red = R"({"bri":255,"xy":[0.640,0.330],"transitiontime":10})";
    EXPECT_EQ(sent(&HttpRequest::url), (Strings{stateUrl("1"), stateUrl("2"), stateUrl("2")}));
    EXPECT_EQ(sent(&HttpRequest::body)[0], red);
    EXPECT_EQ(sent(&HttpRequest::body)[2], red);
}

// With a delay the bridge's walk waits on a delayed call, never a sleep; a newer cover drops it. (When the lamps
// change, and that a quit sends nothing more, is the lamp systems' end-to-end test's.)
TEST_F(GlowcastControllerTest, WithADelayTheWalkWaitsOnADelayedCallAndANewerCoverDropsIt)
{
    setUpWithEnabledLamps(1);
    lampCare.setSettings(settingsOf({{"delay", 600}}));
    postCover({kRed}, {1});
    postCover({kRed}, {2});
    EXPECT_TRUE(scheduler.fireNext() && scheduler.fireNext() && http.sent.size() == 1U) << "newer cover only";
}

// While pinned a cover is shown and changes nothing on the lamps; unpinning sends its colours, once.
TEST_F(GlowcastControllerTest, APinnedCoverChangesNothingOnTheLampsUntilUnpinned)
{
    setUpWithEnabledLamps(1);
    controller.setPinned(true);
    postCover(kSevenColours);
    EXPECT_EQ(display.shown.size(), 1U);
    EXPECT_TRUE(http.sent.empty() && controller.lastPalette()->pinned);
    EXPECT_EQ(log.lines.back(), R"(pinned: the cover from "Coverdeck" changes nothing on the lamps)");
    controller.setPinned(false);
    controller.setPinned(true);
    controller.setPinned(false); // no cover came while pinned: the lamps show the last one
    EXPECT_EQ(sent(&HttpRequest::body), Strings{kThreeBodies[0]});
}

// In album mode a player's cover of the last cover's album and artist changes nothing on the lamps.
TEST_F(GlowcastControllerTest, InAlbumModeTheLastAlbumAndArtistAgainChangeNothingOnTheLamps)
{
    const CoverTrack y{"One", "X", "Y"};
    // What, album mode, the first cover's track, the second cover, and whether the second is sent.
    const std::tuple<const char*, bool, CoverTrack, CoverArrival, bool> rows[] = {
        {"same album and artist", true, y, {{2}, "mpv", true, {}, {"Two", "X", "Y"}}, false},
        {"another album", true, y, {{2}, "mpv", true, {}, {"Two", "X", "Z"}}, true},
        {"same album, another artist", true, y, {{2}, "mpv", true, {}, {"Two", "W", "Y"}}, true},
        {"a notice", true, y, {{2}, "Coverdeck"}, true},
        {"no album", true, {"One", "X", ""}, {{2}, "mpv", true, {}, {"Two", "X", ""}}, true},
        {"album mode off", false, y, {{2}, "mpv", true, {}, {"Two", "X", "Y"}}, true},
    };
    for (const auto& [what, albumMode, first, second, sent] : rows) {
        SCOPED_TRACE(what);
        WindowRig rig;
        rig.setUpWithEnabledLamps(1);
        rig.controller.setAlbumMode(albumMode);
        for (const CoverArrival& cover : {CoverArrival{{1}, "mpv", true, {}, first}, second}) {
            rig.decoder.covers.push_back(std::make_unique<PatchCover>(std::vector<Patch>{kRed}));
            rig.covers.post(cover);
        }
        EXPECT_EQ(rig.http.sent.size(), sent ? 2U : 1U);
    }
}

TEST_F(GlowcastControllerTest, AfterAQuitIsAskedForNothingMoreIsSentAndNoSetUpStarts)
{
    // During which of lamp care's paced waits the quit is asked for (0: before the cover), the puts, the line.
    const std::tuple<int, std::size_t, const char*> rows[] = {
        {0, 0, "quitting: a cover change from \"Coverdeck\" was not handled"},
        {1, 1, "quitting: the rest of this cover's lamps are not sent"}, // while the second lamp waits its turn
        {2, 2, "quitting: the rest of this cover's lamps are not sent"},
    };
    for (const auto& [stopDuringSleep, puts, line] : rows) {
        SCOPED_TRACE(stopDuringSleep);
        WindowRig rig;
        rig.setUpWithEnabledLamps(3);
        rig.lampCare.setSettings(settingsOf({{"pace", 1}}));
        if (stopDuringSleep == 0)
            rig.controller.stop();
        rig.clock.sleeper.duringSleep = [&rig, stop = stopDuringSleep] {
            if (rig.clock.sleeper.calls == stop)
                rig.controller.stop();
        };
        rig.postCover({{{255, 0, 0}, 3000}, {{0, 192, 0}, 2000}, {{0, 0, 255}, 1000}});
        EXPECT_EQ(rig.http.sent.size(), puts);
        EXPECT_EQ(rig.log.lines.back(), line);

        rig.controller.setUp(); // a set-up asked for meanwhile
        EXPECT_EQ(rig.log.lines.back(), "quitting: no set-up");
        EXPECT_EQ(rig.http.sent.size(), puts);
        const int writes = rig.prefs.lampWrites;
        rig.controller.saveBeforeQuit();
        EXPECT_EQ(rig.prefs.lampWrites, writes + 1) << "the saving at the end still runs";
    }
}

// The put-back is armed when the followed player pauses and runs when its time has come; a player
// that has not said what it does arms nothing. Playing again after it asks for the cover again, once.
TEST_F(GlowcastControllerTest, APausedPlayerGetsTheLampsPutBackAndPlayingAgainAsksForTheCoverOnce)
{
    setUpWithEnabledLamps(1);
    lampCare.setSettings(settingsOf({{"restoreAfter", 10}}));
    controller.setAlbumMode(true); // the same album colours the lamps put back
    int asked = 0;
    controller.onPlayingAfterRestore = [&asked] { ++asked; };
    const auto player = [this](PlaybackStatus status) {
        controller.followedPlayerChanged({true, "mpv", "", status, "", ""});
    };
    const auto cover = [this] {
        http.replies.emplace_back(R"({"state":{"on":true,"bri":100,"ct":300,"colormode":"ct"}})");
        http.replies.emplace_back(R"([{"success":{}}])");
        decoder.covers.push_back(std::make_unique<PatchCover>(std::vector<Patch>{kRed}));
        covers.post({std::vector<std::uint8_t>{1}, "mpv", true, {}, {"One", "X", "Y"}});
    };
    const auto restore = [this] {
        ASSERT_EQ(scheduler.pending.size(), 1u);
        EXPECT_EQ(scheduler.pending[0].delay, std::chrono::seconds{10});
        clock.sleeper.slept += std::chrono::seconds{10};
        http.replies.emplace_back(R"([{"success":{}}])");
        ASSERT_TRUE(scheduler.fireNext());
        EXPECT_EQ(http.sent.back().url, stateUrl("1"));
        EXPECT_EQ(http.sent.back().body, R"({"on":true,"bri":100,"ct":300})");
    };
    player(PlaybackStatus::Playing);
    cover();
    player(PlaybackStatus::Unknown);
    EXPECT_TRUE(scheduler.pending.empty()) << "a player not saying what it does arms nothing";
    player(PlaybackStatus::Paused);
    restore();
    EXPECT_EQ(asked, 0);
    player(PlaybackStatus::Playing);
    EXPECT_EQ(asked, 1);
    player(PlaybackStatus::Paused); // nothing put back
    player(PlaybackStatus::Playing);
    cover();
    player(PlaybackStatus::Stopped);
    restore();
    cover(); // a new track's cover first, then playing
    player(PlaybackStatus::Playing);
    player(PlaybackStatus::Paused);
    player(PlaybackStatus::Playing); // before its time: when the call comes, nothing is due
    ASSERT_TRUE(scheduler.fireNext());
    player(PlaybackStatus::Paused);
    player(PlaybackStatus::Playing);
    EXPECT_EQ(asked, 1);
}

TEST(OperationQueueTest, OperationsHandedOverDuringAnotherRunAfterItInOrderUntilClosed)
{
    OperationQueue queue;
    std::vector<std::string> trace;
    queue.run([&] {
        trace.push_back("set-up begins");
        queue.run([&] {
            trace.push_back("cover 1");
            queue.run([&] { trace.push_back("cover 3"); });
        });
        queue.run([&] { trace.push_back("cover 2"); });
        EXPECT_TRUE(queue.busy());
        EXPECT_EQ(queue.waiting(), 2u);
        trace.push_back("set-up ends");
    });
    EXPECT_EQ(trace, (std::vector<std::string>{"set-up begins", "set-up ends", "cover 1", "cover 2", "cover 3"}));
    EXPECT_FALSE(queue.busy());
    EXPECT_EQ(queue.waiting(), 0u);

    trace.clear(); // closing drops what waits and refuses the rest
    queue.run([&] {
        queue.run([&] { trace.push_back("cover"); });
        queue.close();
        trace.push_back("terminated");
    });
    queue.run([&] { trace.push_back("late"); });
    EXPECT_EQ(trace, std::vector<std::string>{"terminated"});
    EXPECT_TRUE(queue.closed());
}

} // namespace
} // namespace glowcast
