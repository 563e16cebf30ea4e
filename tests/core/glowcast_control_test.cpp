#include "core/glowcast_control.h"
#include "support/controller_rig.h"
#include "support/fake_lamp_systems.h"
#include "support/printing.h"

#include <gtest/gtest.h>

#include <ranges>

namespace glowcast {
namespace {

using Lamps = std::vector<LampEntry>;
using Strings = std::vector<std::string>;

const std::string kLights = R"({"1":{"name":"Desk"},"2":{"name":"Hall"}})";

// A controller with the control policy over it, its bridge at 10.0.0.2 paired as "alice", the lamp
// table connected, Desk saved as enabled.
class GlowcastControlTest : public ::testing::Test, protected ControllerRig {
protected:
    FakeLampListView table;
    Settings settings{prefs, log};
    GlowcastControl control{controller, bridge, settings, scheduler, log, std::nullopt};
    std::vector<SetUpEnd> ends;

    GlowcastControlTest()
    {
        prefs.texts = {{"username", "alice"}, {"lastusedbridgeIP", "10.0.0.2"}};
        prefs.savedLamps = Lamps{{"1", "Desk", true}};
        controller.connectViews({&table, nullptr});
        controller.onSetUpEnded = [this](SetUpEnd end) { ends.push_back(end); };
        controller.start();
    }
    void setUp(const std::string& reply)
    {
        http.replies.emplace_back(reply);
        ASSERT_TRUE(scheduler.fireNext());
    }
    void postRedCover() { postCover({{{255, 0, 0}, 6400}}); }
};

TEST_F(GlowcastControlTest, LampsSwitchLikeAClickAreSavedAtOnceAndUnknownIdsOrAFailedSaveChangeNothing)
{
    struct Step {
        bool enable;
        const char* id;
        bool saveFails;
        Failure failure;
        Strings enabled; // the ids enabled afterwards, in the collection and in the saved selection
        Strings lines;
    };
    const Step steps[] = {
        {true, "1", false, Failure::NoLampList, {"1"}, {}}, // before the lamp list is read
        {true, "2", false, Failure::None, {"1", "2"}, {"setting enabled"}},
        {true, "2", false, Failure::None, {"1", "2"}, {}}, // already on: nothing to do
        {false, "1", false, Failure::None, {"2"}, {"unsetting enabled"}},
        {false, "9", false, Failure::UnknownLamp, {"2"}, {}},
        {false, "2", true, Failure::NotSaved, {"2"}, {"unsetting enabled", "setting enabled"}},
        {true, "1", true, Failure::NotSaved, {"2"}, {"setting enabled", "unsetting enabled"}},
    };
    const auto enabledIds = [](const Lamps& lamps) {
        auto ids = lamps | std::views::filter(&LampEntry::enabled) | std::views::transform(&LampEntry::id);
        return Strings(ids.begin(), ids.end());
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(std::string(step.enable ? "enable " : "disable ") + step.id);
        if (step.failure != Failure::NoLampList && !controller.listening())
            setUp(kLights);
        log.lines.clear();
        prefs.failSaves = step.saveFails;
        const Outcome outcome = step.enable ? control.enable(step.id) : control.disable(step.id);
        EXPECT_EQ(outcome.failure, step.failure) << outcome.message;
        EXPECT_EQ(enabledIds(controller.listening() ? control.lamps() : prefs.savedLamps.value()), step.enabled);
        EXPECT_EQ(enabledIds(prefs.savedLamps.value()), step.enabled);
        EXPECT_EQ(log.lines, step.lines);
    }
    EXPECT_EQ(control.disable("9").message, "there is no lamp with the id \"9\"");
    EXPECT_EQ(control.enable("1").message, "the preferences file could not be written; lamp 1 stays off");
    EXPECT_EQ(table.told, (Strings{"refill", "refill", "switched 1", "switched 0", "switched 1", "switched 1",
                                   "switched 0", "switched 0", "switched 0", "switched 0"})); // each refused: back
}

TEST_F(GlowcastControlTest, WhilePausedCoversAreLoggedNotHandledAndTheStatusSaysSo)
{
    setUp(kLights);
    control.setFollowedPlayerSource([] { return std::string{"mpv"}; });
    control.pause();
    http.sent.clear();
    postRedCover();
    EXPECT_TRUE(http.sent.empty());
    EXPECT_EQ(log.lines.back(), "following paused: a cover change from \"Coverdeck\" was not handled");
    EXPECT_EQ(control.status(), (ControlStatus{true, true, "10.0.0.2", false, "mpv", {}, {}}));

    control.resume();
    postRedCover();
    EXPECT_EQ(http.sent.size(), 1u);
    EXPECT_EQ(control.status().lastColours, (std::vector<Colour>{Colour{1, 0, 0, 1}}));
    EXPECT_TRUE(control.status().following);
}

TEST_F(GlowcastControlTest, AnAddressGivenAfterASetUpFoundNoBridgeSetsUpAgainWithIt)
{
    prefs.texts.erase("lastusedbridgeIP");
    ASSERT_TRUE(scheduler.fireNext()); // no portal, no address: the alert, and the set-up is abandoned
    ASSERT_EQ(ends, std::vector<SetUpEnd>{SetUpEnd::Abandoned});

    EXPECT_EQ(control.setBridge("10.0.0.3", "portal host").failure, Failure::InvalidValue);
    EXPECT_EQ(control.setBridge("", "").failure, Failure::InvalidValue);
    EXPECT_FALSE(prefs.texts.contains("lastusedbridgeIP")) << "nothing stored by a refusal";
    EXPECT_TRUE(scheduler.pending.empty());

    ASSERT_TRUE(control.setBridge("10.0.0.3", "").ok());
    ASSERT_TRUE(control.setSetting("lastusedbridgeIP", std::string{"10.0.0.3"}).ok());
    ASSERT_EQ(scheduler.pending.size(), 1u) << "one set-up again, after the call";
    http.replies.emplace_back(kLights);
    ASSERT_TRUE(scheduler.fireNext());
    EXPECT_EQ(ends, (std::vector<SetUpEnd>{SetUpEnd::Abandoned, SetUpEnd::Listening}));
    EXPECT_EQ(http.sent.back().url, "http://10.0.0.3/api/alice/lights");

    ASSERT_TRUE(control.setSetting("lastusedbridgeIP", std::string{"10.0.0.4"}).ok());
    EXPECT_TRUE(scheduler.pending.empty()) << "a listening program keeps its bridge";
}

TEST_F(GlowcastControlTest, TheSelectionSavedAtTheEndKeepsWhatAnotherProgramChangedMeanwhile)
{
    setUp(R"({"1":{"name":"Desk"},"2":{"name":"Hall"},"3":{"name":"Porch"}})");
    ASSERT_TRUE(control.disable("1").ok());
    prefs.savedLamps = Lamps{{"3", "", true}, {"2", "Hall", true}, {"1", "Desk", true}}; // glowcastctl meanwhile
    controller.saveBeforeQuit();
    EXPECT_EQ(prefs.savedLamps, (Lamps{{"1", "Desk", false}, {"2", "Hall", true}, {"3", "Porch", true}}));
}

// Each step: an action on the systems, its outcome, and the ids the systems have afterwards. What the
// systems themselves refuse is their own table's.
TEST_F(GlowcastControlTest, SystemsAreAddedWithTheIdsOfTheirKindPacedAndRemovedByTheirIds)
{
    FakeLampSystemFactory factory;
    FakeTimeline timeline;
    LampSystems systems{factory, timeline, timeline, log};
    Strings removed;
    SystemRecord record;
    EXPECT_EQ(control.addSystem(record).message, "this Glowcast reaches no lamp systems beside its first bridge");
    control.attachSystems(systems);
    control.setSystemRemovedObserver([&](const std::string& id) { removed.push_back(id); });
    struct Step {
        std::function<Outcome()> action;
        Failure failure;
        Strings ids;
    };
    const auto add = [&](SystemKind kind, std::string address, std::string id = {}) {
        return [&, kind, address, id] {
            record = {id, kind, address, {}, {}};
            return control.addSystem(record);
        };
    };
    const Step steps[] = {
        {add(SystemKind::Bridge, "10.0.0.3"), Failure::None, {"bridge-2"}},
        {add(SystemKind::Zigbee2Mqtt, "10.0.0.5"), Failure::InvalidValue, {"bridge-2"}},
        {add(SystemKind::Zigbee2Mqtt, "mqtt://10.0.0.5"), Failure::None, {"bridge-2", "z2m"}},
        {[&] { return control.setSystemPace("z2m", 2); }, Failure::None, {"bridge-2", "z2m"}},
        {[&] { return control.setSystemPace("z3m", 2); }, Failure::UnknownSystem, {"bridge-2", "z2m"}},
        {[&] { return control.removeSystem("bridge-2"); }, Failure::None, {"z2m"}},
        {[&] { return control.removeSystem("bridge-2"); }, Failure::UnknownSystem, {"z2m"}},
        {add(SystemKind::Bridge, "10.0.0.3"), Failure::None, {"z2m", "bridge-2"}},
    };
    for (std::size_t k = 0; k < std::size(steps); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(steps[k].action().failure, steps[k].failure);
        Strings ids;
        for (const SystemStatus& status : control.status().systems)
            ids.push_back(status.record.id);
        EXPECT_EQ(ids, steps[k].ids);
    }
    EXPECT_EQ(removed, Strings{"bridge-2"});
    EXPECT_EQ(control.systems().at(0).record.pace, 2);
    EXPECT_EQ(control.removeSystem("z1").message, "there is no lamp system with the id \"z1\"");
}

} // namespace
} // namespace glowcast
