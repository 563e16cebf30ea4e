#include "core/palette/palette.h"
#include "core/settings.h"
#include "support/fake_preferences.h"
#include "support/recording_log.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace glowcast {
namespace {

using Texts = std::vector<std::string>;

// Each row: the key, the command line's text, what it stands for when accepted, the failure, and the
// refusal's message (not compared when empty).
TEST(SettingTextTest, ParsesAndChecksTheCommandLinesText)
{
    const std::tuple<const char*, const char*, SettingValue, Failure, const char*> rows[] = {
        {"lastusedbridgeIP", " 192.168.1.20 ", std::string{"192.168.1.20"}, Failure::None, ""},
        {"portal", "", std::string{}, Failure::None, ""},
        {"portal",
         "portal.example/api",
         {},
         Failure::InvalidValue,
         "\"portal\" is not a host name or address with an optional port (such as 192.168.1.20 or "
         "bridge.local:8080): \"portal.example/api\""},
        {"lastusedbridgeIP", "10.0.0.2:99999999", {}, Failure::InvalidValue, ""},
        {"followplayers", "false", false, Failure::None, ""},
        {"followplayers", " true ", true, Failure::None, ""},
        {"followplayers", "yes", {}, Failure::WrongKind, "\"followplayers\" is true or false, not \"yes\""},
        {"ignoreplayers", " vlc ,, Firefox Web Browser,", Texts{"vlc", "Firefox Web Browser"}, Failure::None, ""},
        {"ignoreplayers", "", Texts{}, Failure::None, ""},
        {"fade", " 25 ", std::int64_t{25}, Failure::None, ""},
        {"pace", "off", std::int64_t{0}, Failure::None, ""},
        {"fade", "601", {}, Failure::InvalidValue, "\"fade\" is a whole number from 0 to 600 (0 is off): \"601\""},
        {"restoreAfter", "1.5", {}, Failure::WrongKind, ""},
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

TEST(SettingsTest, BadStoredValuesReadAsTheDefaultWithOneLogLineAndGoodOnesAreKept)
{
    FakePreferences prefs;
    RecordingLog log;
    Settings settings{prefs, log};
    prefs.otherKinds["followplayers"] = "a number";
    prefs.texts["portal"] = "bad host";
    prefs.others["ignoreplayers"] = Texts{"vlc"};
    prefs.texts["palette"] = "neon";
    prefs.otherKinds["fade"] = "a text";
    for (int read = 0; read < 2; ++read) {
        EXPECT_TRUE(settings.flag("followplayers"));
        EXPECT_EQ(settings.text("portal"), "");
        EXPECT_EQ(settings.list("ignoreplayers"), Texts{"vlc"});
        EXPECT_EQ(settings.text("lastusedbridgeIP"), "") << "absent";
        EXPECT_EQ(paletteFrom(settings), Palette::Classic);
        EXPECT_EQ(settings.number("fade"), 0);
    }
    EXPECT_EQ(log.lines,
              (Texts{"settings: \"followplayers\" holds a number, not true or false; using the default, \"true\"",
                     "settings: \"portal\" is not a host name or address with an optional port (such as 192.168.1.20 "
                     "or bridge.local:8080): \"bad host\"; using the default, \"\"",
                     "settings: \"palette\" is classic or vivid, not \"neon\"; using the default, \"classic\"",
                     "settings: \"fade\" holds a text, not a whole number; using the default, \"off\""}));
    EXPECT_EQ(settings.value("theme"), std::nullopt);
    prefs.texts["palette"] = "vivid";
    EXPECT_EQ(paletteFrom(settings), Palette::Vivid);
}

TEST(SettingsTest, SettingChecksStoresAndAnEmptyTextRemovesTheKey)
{
    FakePreferences prefs;
    RecordingLog log;
    Settings settings{prefs, log};
    EXPECT_EQ(settings.set("theme", std::string{"dark"}).failure, Failure::UnknownSetting);
    EXPECT_EQ(settings.set("followplayers", std::string{"true"}).failure, Failure::WrongKind);
    for (const Texts& bad :
         {Texts{"a,b"}, Texts{"vlc", ""}, Texts(65, "vlc"), Texts{std::string(201, 'v')}, Texts{"v\x7f"}})
        EXPECT_EQ(settings.set("ignoreplayers", bad).failure, Failure::InvalidValue) << bad.size();
    EXPECT_TRUE(prefs.texts.empty() && prefs.others.empty()) << "nothing stored by a refusal";

    EXPECT_TRUE(settings.set("portal", std::string{"127.0.0.1:8080"}).ok());
    EXPECT_TRUE(settings.set("followplayers", false).ok());
    EXPECT_TRUE(settings.set("ignoreplayers", Texts(64, std::string(200, 'v'))).ok());
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
}

} // namespace
} // namespace glowcast
