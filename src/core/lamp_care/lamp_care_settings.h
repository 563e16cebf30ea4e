#pragma once

#include "../ports/log.h"
#include "../value.h"

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace glowcast {

// How gently Glowcast treats the lamps. Every member's default leaves the requests exactly as they
// are without lamp care.
struct LampCareSettings {
    std::optional<int> fade;                          // "transitiontime" in tenths of a second
    bool switchOn = false;                            // a colour also switches its lamp on
    std::optional<int> minimumBrightness;             // the lowest "bri" a colour is sent with
    bool fitLamp = false;                             // colours fitted to each lamp's kind, gamut and range
    std::optional<int> pace;                          // the most lamp commands per second
    bool skipUnchanged = false;                       // a lamp is not sent the body it last accepted
    std::optional<std::chrono::seconds> restoreAfter; // how long a pause lasts before lamps are put back
    friend bool operator==(const LampCareSettings&, const LampCareSettings&) = default;
};

// The names the settings go by in the preferences, on the bus and on the command line.
inline constexpr std::array<std::string_view, 7> kLampCareSettingNames{
    "fade", "switchOn", "minimumBrightness", "fitLamp", "pace", "skipUnchanged", "restoreAfter"};

enum class SettingCode { Ok, UnknownSetting, WrongType, OutOfRange };

// Whether a setting was taken, and why not, in words for the person who gave it.
struct SettingOutcome {
    SettingCode code = SettingCode::Ok;
    std::string message;
    [[nodiscard]] bool ok() const { return code == SettingCode::Ok; }
    friend bool operator==(const SettingOutcome&, const SettingOutcome&) = default;
};

// Sets one setting from a flag, a whole number or their text forms ("true", "off", "12"); the text
// "off" (or the flag false) clears a number setting. On any error the settings stay as they were.
[[nodiscard]] SettingOutcome setLampCareSetting(LampCareSettings& settings, std::string_view name, const Value& value);

// The setting's value: a flag, a whole number, or the text "off" for a number setting that is not
// set. Nothing for an unknown name.
[[nodiscard]] std::optional<Value> lampCareSetting(const LampCareSettings& settings, std::string_view name);

// Reads the stored settings; every entry that is not a valid setting is logged and left at its default.
[[nodiscard]] LampCareSettings lampCareSettingsFrom(const Dictionary& stored, Log& log);

// The settings that differ from their defaults, for storing.
[[nodiscard]] Dictionary dictionaryFrom(const LampCareSettings& settings);

} // namespace glowcast
