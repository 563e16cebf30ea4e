#include "core/json_codec.h"
#include "core/lamp_care/lamp_care_settings.h"
#include "support/recording_log.h"

#include <gtest/gtest.h>

namespace glowcast {
namespace {

TEST(LampCareSettingsTest, TakesValidValuesAndRefusesOthersWithTheReason)
{
    using Code = SettingCode;
    const std::tuple<const char*, Value, SettingCode, Value> rows[] = {
        {"fade", 5, Code::Ok, 5},
        {"fade", "12", Code::Ok, 12},
        {"fade", "off", Code::Ok, "off"},
        {"fade", 601, Code::OutOfRange, "off"},
        {"fade", 2.5, Code::WrongType, "off"},
        {"switchOn", "on", Code::Ok, true},
        {"switchOn", 1, Code::WrongType, false},
        {"minimumBrightness", 0, Code::OutOfRange, "off"},
        {"restoreAfter", 30.0, Code::Ok, 30},
        {"brightness", 1, Code::UnknownSetting, "off"}};
    for (const auto& [name, given, code, after] : rows) {
        LampCareSettings settings;
        EXPECT_EQ(setLampCareSetting(settings, name, given).code, code) << name << " " << describe(given);
        EXPECT_EQ(lampCareSetting(settings, name).value_or("off"), after) << name << " " << describe(given);
    }
}

TEST(LampCareSettingsTest, StoredSettingsKeepTheValidOnesAndLogTheRest)
{
    RecordingLog log;
    const LampCareSettings settings =
        lampCareSettingsFrom(Dictionary{{"fade", 3}, {"pace", 99}, {"fitLamp", true}, {"colour", "red"}}, log);
    EXPECT_EQ(log.lines, (std::vector<std::string>{
                             "lamp care: 'pace' must be from 1 to 50 lamp commands per second, or off; 99 is out of "
                             "range; the default is used",
                             "lamp care: there is no lamp care setting 'colour'; the default is used"}));
    EXPECT_EQ(JSONFromDictionary(dictionaryFrom(settings)), R"({"fade":3,"fitLamp":true})");
}

} // namespace
} // namespace glowcast
