#include "core/palette/palette.h"
#include "core/settings.h"
#include "support/fake_preferences.h"
#include "support/recording_log.h"

#include <gtest/gtest.h>

#include <ostream>

namespace glowcast {
namespace {

using Texts = std::vector<std::string>;

struct TextCase {
    const char* key;
    const char* text;
    SettingValue value; // what the text stands for, when accepted
    Failure failure;
    const char* message; // the refusal's message when refused; not compared when empty
};

void PrintTo(const TextCase& c, std::ostream* out)
{
    *out << c.key << "=\"" << c.text << "\"";
}

class SettingTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(SettingTextTest, ParsesAndChecksTheCommandLinesText)
{
    const TextCase& c = GetParam();
    const SettingRow* row = findSetting(c.key);
    ASSERT_NE(row, nullptr);
    auto parsed = parseSetting(*row, c.text);
    const Outcome outcome = std::holds_alternative<Outcome>(parsed)
                                ? std::get<Outcome>(parsed)
                                : checkSetting(*row, std::get<SettingValue>(parsed));
    EXPECT_EQ(outcome.failure, c.failure);
    if (c.failure == Failure::None) {
        EXPECT_EQ(std::get<SettingValue>(parsed), c.value);
    } else if (*c.message != '\0') {
        EXPECT_EQ(outcome.message, c.message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SettingTextTest,
    ::testing::Values(
        TextCase{"lastusedbridgeIP", " 192.168.1.20 ", std::string{"192.168.1.20"}, Failure::None, ""},
        TextCase{"portal", "", std::string{}, Failure::None, ""},
        TextCase{"portal",
                 "portal.example/api",
                 {},
                 Failure::InvalidValue,
                 "\"portal\" is not a host name or address with an optional port (such as 192.168.1.20 or "
                 "bridge.local:8080): \"portal.example/api\""},
        TextCase{"lastusedbridgeIP", "10.0.0.2:99999999", {}, Failure::InvalidValue, ""},
        TextCase{"followplayers", "false", false, Failure::None, ""},
        TextCase{"followplayers", " true ", true, Failure::None, ""},
        TextCase{"followplayers", "yes", {}, Failure::WrongKind, "\"followplayers\" is true or false, not \"yes\""},
        TextCase{"ignoreplayers", " vlc ,, Firefox Web Browser,", Texts{"vlc", "Firefox Web Browser"}, Failure::None,
                 ""},
        TextCase{"ignoreplayers", "", Texts{}, Failure::None, ""},
        TextCase{"fade", " 25 ", std::int64_t{25}, Failure::None, ""},
        TextCase{"pace", "off", std::int64_t{0}, Failure::None, ""},
        TextCase{
            "fade", "601", {}, Failure::InvalidValue, "\"fade\" is a whole number from 0 to 600 (0 is off): \"601\""},
        TextCase{"restoreAfter", "1.5", {}, Failure::WrongKind, ""},
        // Each range's ends.
        TextCase{"fade", "0", std::int64_t{0}, Failure::None, ""},
        TextCase{"fade", "-1", {}, Failure::InvalidValue, ""},
        TextCase{"minimumBrightness", "\t0", std::int64_t{0}, Failure::None, ""},
        TextCase{"minimumBrightness", "254", std::int64_t{254}, Failure::None, ""},
        TextCase{"minimumBrightness", "255", {}, Failure::InvalidValue, ""},
        TextCase{"pace", "51", {}, Failure::InvalidValue, ""},
        TextCase{"restoreAfter", "0", std::int64_t{0}, Failure::None, ""},
        TextCase{"restoreAfter", "86401", {}, Failure::InvalidValue, ""},
        // A choice: one of its words; empty resets it.
        TextCase{"palette", " vivid ", std::string{"vivid"}, Failure::None, ""},
        TextCase{"palette", "classic", std::string{"classic"}, Failure::None, ""},
        TextCase{"palette", "", std::string{}, Failure::None, ""},
        TextCase{"palette", "Vivid", {}, Failure::InvalidValue, "\"palette\" is classic or vivid, not \"Vivid\""}));

TEST(SettingsTest, BadStoredValuesReadAsTheDefaultWithOneLogLineAndGoodOnesAreKept)
{
    FakePreferences prefs;
    RecordingLog log;
    Settings settings{prefs, log};
    prefs.otherKinds["followplayers"] = "a number";
    prefs.texts["portal"] = "bad host";
    prefs.others["ignoreplayers"] = Texts{"vlc"};
    prefs.texts["palette"] = "neon";
    for (int read = 0; read < 2; ++read) {
        EXPECT_TRUE(settings.flag("followplayers"));
        EXPECT_EQ(settings.text("portal"), "");
        EXPECT_EQ(settings.list("ignoreplayers"), Texts{"vlc"});
        EXPECT_EQ(settings.text("lastusedbridgeIP"), "") << "absent";
        EXPECT_EQ(paletteFrom(settings), Palette::Classic);
    }
    EXPECT_EQ(log.lines,
              (Texts{"settings: \"followplayers\" holds a number, not true or false; using the default, \"true\"",
                     "settings: \"portal\" is not a host name or address with an optional port (such as 192.168.1.20 "
                     "or bridge.local:8080): \"bad host\"; using the default, \"\"",
                     "settings: \"palette\" is classic or vivid, not \"neon\"; using the default, \"classic\""}));
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
    EXPECT_EQ(settings.set("ignoreplayers", Texts{"a,b"}).failure, Failure::InvalidValue);
    EXPECT_EQ(settings.set("ignoreplayers", Texts{"vlc", ""}).failure, Failure::InvalidValue);
    EXPECT_EQ(settings.set("ignoreplayers", Texts(65, "vlc")).failure, Failure::InvalidValue);
    EXPECT_EQ(settings.set("ignoreplayers", Texts{std::string(201, 'v')}).failure, Failure::InvalidValue);
    EXPECT_EQ(settings.set("ignoreplayers", Texts{"v\x7f"}).failure, Failure::InvalidValue);
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
