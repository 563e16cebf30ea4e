#pragma once

#include "core/lamps/lamp_care_settings.h"
#include "core/ports/log.h"
#include "core/ports/preferences.h"
#include "core/text/outcome.h"

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace glowcast {

// Where Glowcast publishes when the "mqtt" setting names no base topic, and where Home Assistant looks for
// discovery configs unless "mqttDiscovery" says otherwise.
inline constexpr std::string_view kMqttDefaultBase = "glowcast";
inline constexpr std::string_view kMqttDiscoveryPrefix = "homeassistant";

enum class SettingKind { Text, Flag, TextList, WholeNumber, Choice };

// The whole numbers a row takes, both ends included, and its word for 0 where 0 turns something off
// ("off"): typed, the word stands for 0, and 0 is shown as it.
struct WholeNumberRule {
    std::int64_t lowest = 0;
    std::int64_t highest = 0;
    std::string_view zeroWord;
};
inline constexpr WholeNumberRule kNotANumber{};

// One key a user may change. A later option adds a row to settingRows(); the settings dialog, the
// control interface and glowcastctl config show every row without further work.
struct SettingRow {
    std::string_view key;
    SettingKind kind = SettingKind::Text;
    SettingValue defaultValue;
    std::string_view label; // the settings dialog's label
    std::string_view help;  // one line for the dialog's tool tip and glowcastctl config
    // Why a value of the right kind is refused; empty when it is accepted.
    std::string (*check)(const SettingValue& value) = nullptr;
    WholeNumberRule number = kNotANumber; // a whole number's
    // A choice's words, the default first; its value is a text, one of them.
    std::span<const std::string_view> choices;
};

[[nodiscard]] const std::vector<SettingRow>& settingRows();
// Null for a key that is not a setting.
[[nodiscard]] const SettingRow* findSetting(std::string_view key);

// The text form used on the command line and in the dialog's fields: a flag is "true" or "false",
// a list its entries joined by ", ", a whole number its decimal digits.
[[nodiscard]] std::string settingText(const SettingValue& value);
// The same, but 0 as the row's zero word where it has one ("off").
[[nodiscard]] std::string settingText(const SettingRow& row, const SettingValue& value);
// The value a text stands for under row: a flag is "true" or "on", "false" or "off"; a list is split
// at commas, blanks around each entry and empty entries dropped. Any other flag, and a whole number
// that is not decimal digits (with an optional "-") or the row's zero word, are WrongKind failures.
// The value is not checked further (checkSetting does that).
[[nodiscard]] std::variant<SettingValue, Outcome> parseSetting(const SettingRow& row, std::string_view text);
// Accepts a value of the row's kind that passes its check and, for a whole number, lies in its range;
// else WrongKind or InvalidValue, with a message that names the key.
[[nodiscard]] Outcome checkSetting(const SettingRow& row, const SettingValue& value);

// The user's settings, read from and written to the preferences. A stored value of the wrong kind,
// or one its check refuses (someone edited the file by hand), reads as the default, with one log
// line for as long as it stays so.
class Settings {
public:
    Settings(Preferences& preferences, Log& log);

    // Nothing for a key that is not a setting.
    [[nodiscard]] std::optional<SettingValue> value(std::string_view key) const;
    // Shorthands for a key of that kind; the kind's empty value for any other key.
    [[nodiscard]] std::string text(std::string_view key) const;
    [[nodiscard]] bool flag(std::string_view key) const;
    [[nodiscard]] std::vector<std::string> list(std::string_view key) const;
    [[nodiscard]] std::int64_t number(std::string_view key) const;

    // Checks the value and stores it; nothing is stored when it fails. An empty text removes the
    // key, so it reads as its default again.
    Outcome set(std::string_view key, const SettingValue& value);

private:
    Preferences& m_preferences;
    Log& m_log;
    // The last complaint logged per key, so a bad stored value is reported once, not on every read.
    mutable std::map<std::string, std::string, std::less<>> m_reported;
};

// The portal discovery asks: the one the environment names (GLOWCAST_PORTAL), else the "portal"
// setting, else none.
[[nodiscard]] std::optional<std::string> portalHost(const std::optional<std::string>& environment,
                                                    const Settings& settings);

// The lamp care settings among the user's settings (rows "fade", "switchOn", "minimumBrightness",
// "fitLamp", "pace", "skipUnchanged", "restoreAfter" and "delay"); a number setting at 0 is off. A stored value
// that is not valid reads as its default, as every setting does.
[[nodiscard]] LampCareSettings lampCareSettingsFrom(const Settings& settings);

} // namespace glowcast
