#include "core/control/remote_control.h"
#include "core/palette/palette.h"
#include "core/settings/settings.h"
#include "support/controller_rig.h"
#include "support/fake_lamp_systems.h"
#include "support/printing.h"

#include <gtest/gtest.h>

#include <ranges>
#include <string>
#include <tuple>

namespace glowcast {
namespace {

using Lamps = std::vector<LampEntry>;
using Strings = std::vector<std::string>;

const std::string kLights = R"({"1":{"name":"Desk"},"2":{"name":"Hall"}})";

// A controller with the control policy over it, its bridge at 10.0.0.2 paired as "alice", the lamp
// table connected, Desk saved as enabled.
class RemoteControlTest : public ::testing::Test, protected ControllerRig {
protected:
    FakeLampListView table;
    Settings settings{prefs, log};
    RemoteControl control{controller, bridge, settings, scheduler, log, std::nullopt};
    std::vector<SetUpEnd> ends;

    RemoteControlTest()
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

TEST_F(RemoteControlTest, LampsSwitchLikeAClickAreSavedAtOnceAndUnknownIdsOrAFailedSaveChangeNothing)
{
    // Enable or disable, the lamp, whether the save fails, the failure, the ids enabled afterwards (in the
    // collection and in the saved selection) and the lines logged.
    const std::tuple<bool, const char*, bool, Failure, Strings, Strings> steps[] = {
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
    for (const auto& [enable, id, saveFails, failure, enabled, lines] : steps) {
        SCOPED_TRACE(std::string(enable ? "enable " : "disable ") + id);
        if (failure != Failure::NoLampList && !controller.listening())
            setUp(kLights);
        log.lines.clear();
        prefs.failSaves = saveFails;
        const Outcome outcome = enable ? control.enable(id) : control.disable(id);
        EXPECT_EQ(outcome.failure, failure) << outcome.message;
        EXPECT_EQ(enabledIds(controller.listening() ? control.lamps() : prefs.savedLamps.value()), enabled);
        EXPECT_EQ(enabledIds(prefs.savedLamps.value()), enabled);
        EXPECT_EQ(log.lines, lines);
    }
    EXPECT_EQ(control.disable("9").message, "there is no lamp with the id \"9\"");
    EXPECT_EQ(control.enable("1").message, "the preferences file could not be written; lamp 1 stays off");
    EXPECT_EQ(table.told, (Strings{"refill", "refill", "switched 1", "switched 0", "switched 1", "switched 1",
                                   "switched 0", "switched 0", "switched 0", "switched 0"})); // each refused: back
}

TEST_F(RemoteControlTest, WhilePausedCoversAreLoggedNotHandledAndTheStatusSaysSo)
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

// Pin and album mode are settings the controller takes when they are set, and as stored at a start.
TEST_F(RemoteControlTest, PinAndAlbumModeTakeEffectWhenSetAndFromTheStoredSettings)
{
    ASSERT_TRUE(settings.set("pinned", true).ok()); // as glowcastctl stores it while Glowcast is not running
    EXPECT_TRUE((RemoteControl{controller, bridge, settings, scheduler, log, std::nullopt}.status().pinned));
    ASSERT_TRUE(control.setPinned(false).ok() && control.setSetting("albumMode", true).ok());
    EXPECT_FALSE(controller.pinned());
    EXPECT_TRUE(controller.albumMode());
}

TEST_F(RemoteControlTest, AnAddressGivenAfterASetUpFoundNoBridgeSetsUpAgainWithIt)
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
    ASSERT_TRUE(control.setSetting("portal", std::string{"hub.local:8080"}).ok());
    EXPECT_EQ(control.portalHost(), "hub.local:8080");
}

TEST_F(RemoteControlTest, TheSelectionSavedAtTheEndKeepsWhatAnotherProgramChangedMeanwhile)
{
    setUp(R"({"1":{"name":"Desk"},"2":{"name":"Hall"},"3":{"name":"Porch"}})");
    ASSERT_TRUE(control.disable("1").ok());
    prefs.savedLamps = Lamps{{"3", "", true}, {"2", "Hall", true}, {"1", "Desk", true}}; // glowcastctl meanwhile
    controller.saveBeforeQuit();
    EXPECT_EQ(prefs.savedLamps, (Lamps{{"1", "Desk", false}, {"2", "Hall", true}, {"3", "Porch", true}}));
}

// Each step: an action on the systems, its outcome, and the ids the systems have afterwards, which are
// stored before the answer. What cannot be stored is undone: secrets staged for an addition are given
// to its id and taken back with it, and a removal that is not stored keeps the system's. What the
// systems themselves refuse is their own table's.
TEST_F(RemoteControlTest, SystemsAreAddedWithTheIdsOfTheirKindPacedAndRemovedByTheirIdsWhenStored)
{
    FakeLampSystemFactory factory;
    FakeTimeline timeline;
    LampSystems systems{factory, timeline, timeline, log};
    Strings removed;
    Strings adopted;
    SystemRecord record;
    EXPECT_EQ(control.addSystem(record).message, "this Glowcast reaches no lamp systems beside its first bridge");
    EXPECT_EQ(control.removeSystem("z1").message, "there is no lamp system with the id \"z1\"");
    control.attachSystems(systems, prefs);
    control.setSystemRemovedObserver([&](const std::string& id) { removed.push_back(id); });
    control.setSecretsAdopter([&](std::string_view tag, std::string_view id) -> std::optional<std::string> {
        adopted.push_back(std::string{tag} + ">" + std::string{id});
        return tag == "bad" ? std::optional<std::string>{"gone"} : std::nullopt;
    });
    const auto add = [&](SystemKind kind, std::string address, std::string tag = {}) {
        return [&, kind, address, tag] { return control.addSystem(record = {{}, kind, address, {}, {}}, tag); };
    };
    // Each row also says whether the store fails.
    const std::tuple<bool, std::function<Outcome()>, Failure, Strings> steps[] = {
        {false, add(SystemKind::Bridge, "10.0.0.3"), Failure::None, {"bridge-2"}},
        {false, add(SystemKind::Zigbee2Mqtt, "10.0.0.5"), Failure::InvalidValue, {"bridge-2"}},
        {false, add(SystemKind::Zigbee2Mqtt, "mqtt://10.0.0.5", "ab12"), Failure::None, {"bridge-2", "z2m"}},
        {true, add(SystemKind::Wled, "http://10.0.0.6", "cd34"), Failure::NotSaved, {"bridge-2", "z2m"}},
        {false, add(SystemKind::Wled, "http://10.0.0.6", "bad"), Failure::NotSaved, {"bridge-2", "z2m"}},
        {false, [&] { return control.setSystemPace("z2m", 2); }, Failure::None, {"bridge-2", "z2m"}},
        {true, [&] { return control.setSystemPace("z2m", 8); }, Failure::NotSaved, {"bridge-2", "z2m"}},
        {false, [&] { return control.setSystemPace("z3m", 2); }, Failure::UnknownSystem, {"bridge-2", "z2m"}},
        {true, [&] { return control.removeSystem("bridge-2"); }, Failure::NotSaved, {"bridge-2", "z2m"}},
        {false, [&] { return control.removeSystem("bridge-2"); }, Failure::None, {"z2m"}},
        {false, [&] { return control.removeSystem("bridge-2"); }, Failure::UnknownSystem, {"z2m"}},
        {false, add(SystemKind::Bridge, "10.0.0.3"), Failure::None, {"z2m", "bridge-2"}},
    };
    for (const auto& [fails, action, failure, expected] : steps) {
        prefs.failSaves = fails;
        EXPECT_EQ(action().failure, failure);
        Strings ids;
        for (const SystemStatus& status : control.status().systems)
            ids.push_back(status.record.id);
        EXPECT_EQ(ids, expected) << "after " << ::testing::PrintToString(failure);
        EXPECT_EQ(prefs.savedSystems, systems.records()) << "after " << ::testing::PrintToString(failure);
    }
    EXPECT_EQ(adopted, (Strings{"ab12>z2m", "cd34>wled", "bad>wled"}));
    EXPECT_EQ(removed, (Strings{"wled", "bridge-2"}));
    EXPECT_EQ(control.systems().at(0).record.pace, 2);
}

// Each row: the key, the command line's text, what it stands for when accepted, the failure, and the
// refusal's message (not compared when empty).
TEST(SettingTextTest, ParsesAndChecksTheCommandLinesText)
{
    // clang-format off
    const std::tuple<const char*, const char*, SettingValue, Failure, const char*> rows[] = {
        {"lastusedbridgeIP", " 192.168.1.20 ", std::string{"192.168.1.20"}, Failure::None, ""},
        {"portal", "", std::string{}, Failure::None, ""},
        {"portal", "portal.example/api", {}, Failure::InvalidValue, "\"portal\" is not a host name or address with an optional port (such as 192.168.1.20 or bridge.local:8080): \"portal.example/api\""},
        {"lastusedbridgeIP", "10.0.0.2:99999999", {}, Failure::InvalidValue, ""},
        {"followplayers", "false", false, Failure::None, ""},
        {"followplayers", " true ", true, Failure::None, ""},
        {"followplayers", "yes", {}, Failure::WrongKind, "\"followplayers\" is true or false, not \"yes\""},
        {"albumMode", "on", true, Failure::None, ""},
        {"pinned", "off", false, Failure::None, ""},
        {"ignoreplayers", " vlc ,, Firefox Web Browser,", Strings{"vlc", "Firefox Web Browser"}, Failure::None, ""},
        {"ignoreplayers", "", Strings{}, Failure::None, ""},
        {"fade", " 25 ", std::int64_t{25}, Failure::None, ""},
        {"pace", "off", std::int64_t{0}, Failure::None, ""},
        {"fade", "601", {}, Failure::InvalidValue, "\"fade\" is a whole number from 0 to 600 (0 is off): \"601\""},
        {"restoreAfter", "1.5", {}, Failure::WrongKind, ""},
        {"fade", "99999999999999999999", {}, Failure::WrongKind, ""},
        // Each range's ends.
        {"fade", "0", std::int64_t{0}, Failure::None, ""},
        {"fade", "-1", {}, Failure::InvalidValue, ""},
        {"minimumBrightness", "\t0", std::int64_t{0}, Failure::None, ""},
        {"minimumBrightness", "254", std::int64_t{254}, Failure::None, ""},
        {"minimumBrightness", "255", {}, Failure::InvalidValue, ""},
        {"pace", "51", {}, Failure::InvalidValue, ""},
        {"restoreAfter", "0", std::int64_t{0}, Failure::None, ""},
        {"restoreAfter", "86401", {}, Failure::InvalidValue, ""},
        // A choice: one of its words; empty resets it.
        {"palette", " vivid ", std::string{"vivid"}, Failure::None, ""},
        {"palette", "classic", std::string{"classic"}, Failure::None, ""},
        {"palette", "", std::string{}, Failure::None, ""},
        {"palette", "Vivid", {}, Failure::InvalidValue, "\"palette\" is classic or vivid, not \"Vivid\""}};
    // clang-format on
    for (const auto& [key, text, value, failure, message] : rows) {
        SCOPED_TRACE(std::string(key) + "=\"" + text + "\"");
        const SettingRow* row = findSetting(key);
        ASSERT_NE(row, nullptr);
        auto parsed = parseSetting(*row, text);
        const Outcome outcome = std::holds_alternative<Outcome>(parsed)
                                    ? std::get<Outcome>(parsed)
                                    : checkSetting(*row, std::get<SettingValue>(parsed));
        EXPECT_EQ(outcome.failure, failure);
        if (failure == Failure::None) {
            EXPECT_EQ(std::get<SettingValue>(parsed), value);
        } else if (*message != '\0') {
            EXPECT_EQ(outcome.message, message);
        }
    }
}

// Stored values are checked as they are read and as they are set; nothing refused is stored.
TEST(SettingsTest, SettingChecksStoresAndBadStoredValuesReadAsTheDefaultWithOneLogLine)
{
    FakePreferences prefs;
    RecordingLog log;
    Settings settings{prefs, log};
    EXPECT_EQ(settings.set("theme", std::string{"dark"}).failure, Failure::UnknownSetting);
    EXPECT_EQ(settings.set("followplayers", std::string{"true"}).failure, Failure::WrongKind);
    for (const Strings& bad :
         {Strings{"a,b"}, Strings{"vlc", ""}, Strings(65, "vlc"), Strings{std::string(201, 'v')}, Strings{"v\x7f"}})
        EXPECT_EQ(settings.set("ignoreplayers", bad).failure, Failure::InvalidValue) << bad.size();
    EXPECT_TRUE(prefs.texts.empty() && prefs.others.empty()) << "nothing stored by a refusal";

    EXPECT_TRUE(settings.set("portal", std::string{"127.0.0.1:8080"}).ok());
    EXPECT_TRUE(settings.set("followplayers", false).ok());
    EXPECT_TRUE(settings.set("ignoreplayers", Strings(64, std::string(200, 'v'))).ok());
    EXPECT_EQ(prefs.texts["portal"], "127.0.0.1:8080");
    EXPECT_FALSE(settings.flag("followplayers"));
    EXPECT_TRUE(settings.set("portal", std::string{}).ok());
    EXPECT_FALSE(prefs.texts.contains("portal"));
    EXPECT_EQ(log.lines.back(), "settings: \"portal\" set to \"\"");

    prefs.failSaves = true; // a full disk
    log.lines.clear();
    EXPECT_EQ(settings.set("fade", std::int64_t{12}),
              (Outcome{Failure::NotSaved, "the preferences file could not be written; \"fade\" keeps its value"}));
    EXPECT_TRUE(log.lines.empty()) << "the preferences log why";

    prefs.failSaves = false;
    log.lines.clear();
    prefs.otherKinds["followplayers"] = "a number";
    prefs.texts["portal"] = "bad host";
    prefs.others["ignoreplayers"] = Strings{"vlc"};
    prefs.texts["palette"] = "neon";
    prefs.otherKinds["fade"] = "a text";
    for (int read = 0; read < 2; ++read) {
        EXPECT_TRUE(settings.flag("followplayers"));
        EXPECT_EQ(settings.text("portal"), "");
        EXPECT_EQ(settings.list("ignoreplayers"), Strings{"vlc"});
        EXPECT_EQ(settings.text("lastusedbridgeIP"), "") << "absent";
        EXPECT_EQ(paletteFrom(settings), Palette::Classic);
        EXPECT_EQ(settings.number("fade"), 0);
    }
    EXPECT_EQ(log.lines,
              (Strings{"settings: \"followplayers\" holds a number, not true or false; using the default, \"true\"",
                       "settings: \"portal\" is not a host name or address with an optional port (such as 192.168.1.20 "
                       "or bridge.local:8080): \"bad host\"; using the default, \"\"",
                       "settings: \"palette\" is classic or vivid, not \"neon\"; using the default, \"classic\"",
                       "settings: \"fade\" holds a text, not a whole number; using the default, \"off\""}));
    EXPECT_EQ(settings.value("theme"), std::nullopt);
    EXPECT_EQ(settingText(SettingValue{Strings{"vlc", "mpv"}}), "vlc, mpv");
    prefs.texts["palette"] = "pink"; // another complaint: logged again
    EXPECT_EQ(paletteFrom(settings), Palette::Classic);
    EXPECT_EQ(log.lines.back(),
              "settings: \"palette\" is classic or vivid, not \"pink\"; using the default, \"classic\"");
    prefs.texts["palette"] = "vivid";
    EXPECT_EQ(paletteFrom(settings), Palette::Vivid);
}

} // namespace
} // namespace glowcast
