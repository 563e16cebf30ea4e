#include "lamp_care_settings.h"

#include "bridge_fields.h"

#include <algorithm>

namespace glowcast {

namespace {

// A flag setting names its member in `flag`, a number setting in `number`; the restore delay,
// kept as a duration, has neither.
struct Rule {
    bool LampCareSettings::*flag = nullptr;
    std::optional<int> LampCareSettings::*number = nullptr;
    int lowest = 0;
    int highest = 0;
    std::string_view unit;
};

// In the order of kLampCareSettingNames. The fade stops at a minute: longer ones would hold back
// every later state of the lamp for as long.
const std::array<Rule, kLampCareSettingNames.size()> kRules{{
    {nullptr, &LampCareSettings::fade, 0, 600, "tenths of a second"},
    {&LampCareSettings::switchOn, nullptr, 0, 0, ""},
    {nullptr, &LampCareSettings::minimumBrightness, 1, 254, "(the lamp's brightness scale)"},
    {&LampCareSettings::fitLamp, nullptr, 0, 0, ""},
    {nullptr, &LampCareSettings::pace, 1, 50, "lamp commands per second"},
    {&LampCareSettings::skipUnchanged, nullptr, 0, 0, ""},
    {nullptr, nullptr, 0, 86'400, "seconds"},
}};

std::optional<std::size_t> indexOf(std::string_view name)
{
    const auto* found = std::find(kLampCareSettingNames.begin(), kLampCareSettingNames.end(), name);
    if (found == kLampCareSettingNames.end())
        return std::nullopt;
    return static_cast<std::size_t>(found - kLampCareSettingNames.begin());
}

std::optional<int> numberOf(const LampCareSettings& settings, const Rule& rule)
{
    if (rule.number != nullptr)
        return settings.*rule.number;
    if (settings.restoreAfter)
        return static_cast<int>(settings.restoreAfter->count());
    return std::nullopt;
}

void setNumber(LampCareSettings& settings, const Rule& rule, std::optional<int> number)
{
    if (rule.number != nullptr)
        settings.*rule.number = number;
    else
        settings.restoreAfter = number ? std::optional<std::chrono::seconds>{*number} : std::nullopt;
}

// A flag, or one of the words a person types for one.
std::optional<bool> settingFlagFrom(const Value& value)
{
    if (const auto flag = value.asBool())
        return flag;
    if (const std::string* text = value.asText()) {
        if (*text == "true" || *text == "on")
            return true;
        if (*text == "false" || *text == "off")
            return false;
    }
    return std::nullopt;
}

std::string rangeText(const Rule& rule)
{
    return "from " + std::to_string(rule.lowest) + " to " + std::to_string(rule.highest) + " " + std::string{rule.unit};
}

} // namespace

SettingOutcome setLampCareSetting(LampCareSettings& settings, std::string_view name, const Value& value)
{
    const auto index = indexOf(name);
    if (!index)
        return {SettingCode::UnknownSetting, "there is no lamp care setting '" + std::string{name} + "'"};
    const Rule& rule = kRules[*index];
    const std::string quotedName = "'" + std::string{name} + "'";

    if (rule.flag != nullptr) {
        const auto flag = settingFlagFrom(value);
        if (!flag)
            return {SettingCode::WrongType, quotedName + " takes true or false, not " + describe(value)};
        settings.*rule.flag = *flag;
        return {};
    }

    if (const auto flag = settingFlagFrom(value); flag && !*flag) {
        setNumber(settings, rule, std::nullopt);
        return {};
    }
    const auto whole = wholeNumberFrom(&value);
    if (!whole)
        return {SettingCode::WrongType,
                quotedName + " takes a whole number " + rangeText(rule) + ", or off; not " + describe(value)};
    if (*whole < rule.lowest || *whole > rule.highest)
        return {SettingCode::OutOfRange, quotedName + " must be " + rangeText(rule) + ", or off; " +
                                             std::to_string(*whole) + " is out of range"};
    setNumber(settings, rule, static_cast<int>(*whole));
    return {};
}

std::optional<Value> lampCareSetting(const LampCareSettings& settings, std::string_view name)
{
    const auto index = indexOf(name);
    if (!index)
        return std::nullopt;
    const Rule& rule = kRules[*index];
    if (rule.flag != nullptr)
        return Value{settings.*rule.flag};
    if (const auto number = numberOf(settings, rule))
        return Value{*number};
    return Value{"off"};
}

LampCareSettings lampCareSettingsFrom(const Dictionary& stored, Log& log)
{
    LampCareSettings settings;
    for (std::size_t i = 0; i < stored.size(); ++i) {
        const SettingOutcome outcome = setLampCareSetting(settings, stored.keys()[i], stored.valueAt(i));
        if (!outcome.ok())
            log.write("lamp care: " + outcome.message + "; the default is used");
    }
    return settings;
}

Dictionary dictionaryFrom(const LampCareSettings& settings)
{
    const LampCareSettings defaults;
    Dictionary stored;
    for (const std::string_view name : kLampCareSettingNames) {
        auto value = lampCareSetting(settings, name);
        if (value != lampCareSetting(defaults, name))
            stored.set(std::string{name}, std::move(*value));
    }
    return stored;
}

} // namespace glowcast
