#include "core/settings/settings.h"

#include "core/text/mqtt_address.h"
#include "core/text/url_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>

namespace glowcast {

namespace {

constexpr std::size_t kMaximumListEntries = 64;
constexpr std::size_t kMaximumEntryBytes = 200;
constexpr std::string_view kBlank = " \t";

[[nodiscard]] std::string_view kindName(SettingKind kind)
{
    switch (kind) {
    case SettingKind::Text:
        return "a text";
    case SettingKind::Flag:
        return "true or false";
    case SettingKind::TextList:
        return "a list of texts";
    case SettingKind::WholeNumber:
        return "a whole number";
    case SettingKind::Choice:
        return "a text";
    }
    return "";
}

[[nodiscard]] SettingKind kindOf(const SettingValue& value)
{
    if (std::holds_alternative<bool>(value))
        return SettingKind::Flag;
    if (std::holds_alternative<std::vector<std::string>>(value))
        return SettingKind::TextList;
    if (std::holds_alternative<std::int64_t>(value))
        return SettingKind::WholeNumber;
    return SettingKind::Text;
}

// "classic or vivid"
[[nodiscard]] std::string choicesText(const SettingRow& row)
{
    std::string text;
    for (std::size_t i = 0; i < row.choices.size(); ++i)
        text += (i == 0 ? "" : i + 1 == row.choices.size() ? " or " : ", ") + std::string{row.choices[i]};
    return text;
}

// "a whole number from 0 to 600 (0 is off)"
[[nodiscard]] std::string rangeText(const SettingRow& row)
{
    std::string text =
        "a whole number from " + std::to_string(row.number.lowest) + " to " + std::to_string(row.number.highest);
    if (!row.number.zeroWord.empty())
        text += " (0 is " + std::string{row.number.zeroWord} + ")";
    return text;
}

[[nodiscard]] std::string_view trimmed(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(kBlank);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlank) - first + 1);
}

[[nodiscard]] bool hasControlCharacter(std::string_view text)
{
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

// Empty (not set) or "host" / "host:port" that a request URL can hold.
std::string checkHost(const SettingValue& value)
{
    const std::string& host = std::get<std::string>(value);
    if (host.empty() || isUrlHost(host))
        return {};
    return "is not a host name or address with an optional port (such as 192.168.1.20 or bridge.local:8080)";
}

// Player names: bus name suffixes or identities, never empty, on one line, without the separator.
std::string checkPlayerNames(const SettingValue& value)
{
    const auto& names = std::get<std::vector<std::string>>(value);
    if (names.size() > kMaximumListEntries)
        return "holds " + std::to_string(names.size()) + " entries; at most " + std::to_string(kMaximumListEntries);
    for (const std::string& name : names)
        if (name.empty() || name.size() > kMaximumEntryBytes || hasControlCharacter(name) ||
            name.find(',') != std::string::npos || trimmed(name).size() != name.size())
            return "entries are names of 1 to " + std::to_string(kMaximumEntryBytes) +
                   " characters, without commas, control characters or blanks at either end";
    return {};
}

// The broker Glowcast publishes on: empty (nowhere), or mqtt://HOST[:PORT][/BASE]. A base that no
// subscriber could name exactly (a wildcard in it) is refused with a sentence of its own.
std::string checkMqttUrl(const SettingValue& value)
{
    const std::string& url = std::get<std::string>(value);
    if (url.empty() || parseMqttAddress(url, kMqttDefaultBase))
        return {};
    if (const std::size_t slash = url.find('/', std::string_view{"mqtt://"}.size());
        slash != std::string::npos && parseMqttAddress(url.substr(0, slash)))
        return "has a base topic with '+', '#', an empty level or a control character, or of over " +
               std::to_string(kLongestBaseTopic) + " bytes";
    return "is not mqtt://HOST[:PORT][/BASE] (such as mqtt://192.168.1.20 or mqtt://broker.local:1883/glowcast)";
}

// Empty (the default) or a topic of whole levels.
std::string checkTopic(const SettingValue& value)
{
    if (const std::string& topic = std::get<std::string>(value); topic.empty() || isMqttTopic(topic))
        return {};
    return "is a topic without '+', '#', empty levels or control characters, of at most " +
           std::to_string(kLongestBaseTopic) + " bytes";
}

// Empty for none; else a name a broker takes, which keeps the connection from going out anonymous.
std::string checkBrokerUser(const SettingValue& value)
{
    const std::string& user = std::get<std::string>(value);
    if (user.empty() || isBrokerUser(user))
        return {};
    return "is at most " + std::to_string(kLongestBrokerUser) + " bytes of UTF-8 text without control characters";
}

// Lamp care's numbers: every default is off and leaves the lamp requests exactly as they are without
// lamp care. A fade stops at a minute: a longer one would hold back every later state of the lamp for
// as long.
constexpr WholeNumberRule kFadeTenths{0, 600, "off"};
constexpr WholeNumberRule kBrightness{0, 254, "off"};
constexpr WholeNumberRule kCommandsPerSecond{0, 50, "off"};
constexpr WholeNumberRule kRestoreSeconds{0, 86'400, "off"};
// Ten seconds covers the slowest speaker and the slowest lamp system.
constexpr WholeNumberRule kDelayMilliseconds{0, 10'000, "off"};
// The palette a cover's colours are taken with: the classic extractor first, the default.
constexpr std::array<std::string_view, 2> kPalettes{"classic", "vivid"};
// What the lamps do with the music the desktop plays: nothing (the default), follow its loudness, pulse.
constexpr std::array<std::string_view, 3> kBeatModes{"off", "calm", "pulse"};

// The settings table holds each number within its row's range, which fits an int.
std::optional<int> unlessOff(std::int64_t number)
{
    if (number == 0)
        return std::nullopt;
    return static_cast<int>(number);
}

} // namespace

const std::vector<SettingRow>& settingRows()
{
    static const std::vector<SettingRow> rows{
        {"lastusedbridgeIP",
         SettingKind::Text,
         std::string{},
         "Bridge address",
         "the bridge's host or address; the portal's answer replaces it",
         checkHost,
         kNotANumber,
         {}},
        {"portal",
         SettingKind::Text,
         std::string{},
         "Discovery portal",
         "host[:port] of the portal that tells the bridge's address (GLOWCAST_PORTAL wins when set)",
         checkHost,
         kNotANumber,
         {}},
        {"followplayers",
         SettingKind::Flag,
         true,
         "Follow media players",
         "take covers from the media players on the session bus",
         nullptr,
         kNotANumber,
         {}},
        {"ignoreplayers",
         SettingKind::TextList,
         std::vector<std::string>{},
         "Players to ignore",
         "players never followed: bus name suffixes or player names, separated by commas",
         checkPlayerNames,
         kNotANumber,
         {}},
        {"fade",
         SettingKind::WholeNumber,
         std::int64_t{0},
         "Fade (tenths of a second)",
         "each new colour fades in over this many tenths of a second (off leaves it to the bridge)",
         nullptr,
         kFadeTenths,
         {}},
        {"switchOn",
         SettingKind::Flag,
         false,
         "Switch lamps on",
         "a colour also switches its lamp on, so a lamp that is off lights up",
         nullptr,
         kNotANumber,
         {}},
        {"minimumBrightness",
         SettingKind::WholeNumber,
         std::int64_t{0},
         "Minimum brightness",
         "a colour's brightness is never below this, on the lamps' scale of 1 to 254",
         nullptr,
         kBrightness,
         {}},
        {"fitLamp",
         SettingKind::Flag,
         false,
         "Fit each lamp",
         "colours fitted to each lamp's own gamut; white lamps get the nearest white, dimmable ones brightness only",
         nullptr,
         kNotANumber,
         {}},
        {"pace",
         SettingKind::WholeNumber,
         std::int64_t{0},
         "Lamp commands per second",
         "at most this many lamp commands a second, evenly spread (a bridge takes about 10)",
         nullptr,
         kCommandsPerSecond,
         {}},
        {"skipUnchanged",
         SettingKind::Flag,
         false,
         "Skip unchanged lamps",
         "a lamp is not sent the state it last took again",
         nullptr,
         kNotANumber,
         {}},
        {"restoreAfter",
         SettingKind::WholeNumber,
         std::int64_t{0},
         "Restore after (seconds)",
         "puts the lamps back as they were once the followed player has not played for this many seconds",
         nullptr,
         kRestoreSeconds,
         {}},
        {"delay",
         SettingKind::WholeNumber,
         std::int64_t{0},
         "Delay (milliseconds)",
         "the lamps change this long after the cover arrives, every system's together (off sends at once)",
         nullptr,
         kDelayMilliseconds,
         {}},
        {"palette", SettingKind::Choice, std::string{"classic"}, "Palette",
         "how a cover's colours are chosen: classic, or vivid (colours for lamps: distinct, rich, never dark or grey)",
         nullptr, kNotANumber, kPalettes},
        {"albumMode",
         SettingKind::Flag,
         false,
         "Album mode",
         "a media player's cover of the same album and artist as the last cover changes nothing on the lamps",
         nullptr,
         kNotANumber,
         {}},
        {"pinned",
         SettingKind::Flag,
         false,
         "Pin the colours",
         "covers change nothing on the lamps; unpinned, the lamps take the last cover's colours",
         nullptr,
         kNotANumber,
         {}},
        {"mqtt",
         SettingKind::Text,
         std::string{},
         "MQTT broker",
         "mqtt://HOST[:PORT][/BASE] to publish the palette on, for Home Assistant and scripts (base glowcast)",
         checkMqttUrl,
         kNotANumber,
         {}},
        {"mqttUser",
         SettingKind::Text,
         std::string{},
         "MQTT user",
         "the broker's user for publishing; glowcastctl config mqtt URL --user U --password-file F stores both",
         checkBrokerUser,
         kNotANumber,
         {}},
        {"mqttDiscovery",
         SettingKind::Text,
         std::string{kMqttDiscoveryPrefix},
         "Home Assistant discovery prefix",
         "the topic Home Assistant finds devices under (homeassistant unless changed there)",
         checkTopic,
         kNotANumber,
         {}},
        {"beat", SettingKind::Choice, std::string{"off"}, "Beat",
         "lamps with the music the desktop plays: off, calm (follow its loudness) or pulse (on its beats); "
         "WLED gets sound sync",
         nullptr, kNotANumber, kBeatModes},
    };
    return rows;
}

const SettingRow* findSetting(std::string_view key)
{
    for (const SettingRow& row : settingRows())
        if (row.key == key)
            return &row;
    return nullptr;
}

std::string settingText(const SettingValue& value)
{
    if (const bool* flag = std::get_if<bool>(&value))
        return *flag ? "true" : "false";
    if (const auto* list = std::get_if<std::vector<std::string>>(&value)) {
        std::string text;
        for (const std::string& entry : *list)
            text += (text.empty() ? "" : ", ") + entry;
        return text;
    }
    if (const std::int64_t* number = std::get_if<std::int64_t>(&value))
        return std::to_string(*number);
    return std::get<std::string>(value);
}

std::string settingText(const SettingRow& row, const SettingValue& value)
{
    if (const std::int64_t* number = std::get_if<std::int64_t>(&value);
        number != nullptr && *number == 0 && !row.number.zeroWord.empty())
        return std::string{row.number.zeroWord};
    return settingText(value);
}

std::variant<SettingValue, Outcome> parseSetting(const SettingRow& row, std::string_view text)
{
    switch (row.kind) {
    case SettingKind::Text:
    case SettingKind::Choice:
        return SettingValue{std::string{trimmed(text)}};
    case SettingKind::Flag:
        if (trimmed(text) == "true" || trimmed(text) == "on")
            return SettingValue{true};
        if (trimmed(text) == "false" || trimmed(text) == "off")
            return SettingValue{false};
        return Outcome{Failure::WrongKind,
                       "\"" + std::string{row.key} + "\" is true or false, not \"" + std::string{text} + "\""};
    case SettingKind::TextList: {
        std::vector<std::string> entries;
        for (std::size_t start = 0; start <= text.size();) {
            const std::size_t comma = std::min(text.find(',', start), text.size());
            if (const std::string_view entry = trimmed(text.substr(start, comma - start)); !entry.empty())
                entries.emplace_back(entry);
            start = comma + 1;
        }
        return SettingValue{std::move(entries)};
    }
    case SettingKind::WholeNumber: {
        const std::string_view digits = trimmed(text);
        if (!row.number.zeroWord.empty() && digits == row.number.zeroWord)
            return SettingValue{std::int64_t{0}};
        std::int64_t number = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
        if (digits.empty() || error != std::errc{} || end != digits.data() + digits.size())
            return Outcome{Failure::WrongKind, "\"" + std::string{row.key} + "\" is " + rangeText(row) + ", not \"" +
                                                   std::string{text} + "\""};
        return SettingValue{number};
    }
    }
    return Outcome{Failure::WrongKind, "unknown kind"};
}

Outcome checkSetting(const SettingRow& row, const SettingValue& value)
{
    const std::string key = "\"" + std::string{row.key} + "\"";
    const SettingKind kind = row.kind == SettingKind::Choice ? SettingKind::Text : row.kind;
    if (kindOf(value) != kind)
        return {Failure::WrongKind,
                key + " holds " + std::string{kindName(row.kind)} + ", not " + std::string{kindName(kindOf(value))}};
    if (const std::int64_t* number = std::get_if<std::int64_t>(&value);
        number != nullptr && (*number < row.number.lowest || *number > row.number.highest))
        return {Failure::InvalidValue, key + " is " + rangeText(row) + ": \"" + settingText(value) + "\""};
    if (const std::string* word = std::get_if<std::string>(&value);
        word != nullptr && !word->empty() && !row.choices.empty() &&
        std::find(row.choices.begin(), row.choices.end(), std::string_view{*word}) == row.choices.end())
        return {Failure::InvalidValue, key + " is " + choicesText(row) + ", not \"" + *word + "\""};
    if (row.check != nullptr)
        if (std::string reason = row.check(value); !reason.empty())
            return {Failure::InvalidValue, key + " " + reason + ": \"" + settingText(value) + "\""};
    return {};
}

Settings::Settings(Preferences& preferences, Log& log) : m_preferences(preferences), m_log(log)
{
}

std::optional<SettingValue> Settings::value(std::string_view key) const
{
    const SettingRow* row = findSetting(key);
    if (row == nullptr)
        return std::nullopt;
    const StoredSetting stored = m_preferences.setting(key);
    std::string complaint;
    if (!stored.otherKind.empty()) {
        complaint =
            "\"" + std::string{key} + "\" holds " + stored.otherKind + ", not " + std::string{kindName(row->kind)};
    } else if (stored.value) {
        complaint = checkSetting(*row, *stored.value).message;
    }
    const auto reported = m_reported.find(key);
    if (complaint.empty()) {
        if (reported != m_reported.end())
            m_reported.erase(reported);
        return stored.value ? *stored.value : row->defaultValue;
    }
    if (reported == m_reported.end() || reported->second != complaint) {
        m_log.write("settings: " + complaint + "; using the default, \"" + settingText(*row, row->defaultValue) + "\"");
        m_reported.insert_or_assign(std::string{key}, complaint);
    }
    return row->defaultValue;
}

std::string Settings::text(std::string_view key) const
{
    const std::optional<SettingValue> stored = value(key);
    const std::string* text = stored ? std::get_if<std::string>(&*stored) : nullptr;
    return text != nullptr ? *text : std::string{};
}

bool Settings::flag(std::string_view key) const
{
    const std::optional<SettingValue> stored = value(key);
    const bool* flag = stored ? std::get_if<bool>(&*stored) : nullptr;
    return flag != nullptr && *flag;
}

std::vector<std::string> Settings::list(std::string_view key) const
{
    const std::optional<SettingValue> stored = value(key);
    const auto* list = stored ? std::get_if<std::vector<std::string>>(&*stored) : nullptr;
    return list != nullptr ? *list : std::vector<std::string>{};
}

std::int64_t Settings::number(std::string_view key) const
{
    const std::optional<SettingValue> stored = value(key);
    const std::int64_t* number = stored ? std::get_if<std::int64_t>(&*stored) : nullptr;
    return number != nullptr ? *number : 0;
}

Outcome Settings::set(std::string_view key, const SettingValue& value)
{
    const SettingRow* row = findSetting(key);
    if (row == nullptr)
        return {Failure::UnknownSetting, "there is no setting \"" + std::string{key} + "\""};
    if (Outcome checked = checkSetting(*row, value); !checked.ok())
        return checked;
    const std::string* text = std::get_if<std::string>(&value);
    if (!m_preferences.setSetting(key, text != nullptr && text->empty() ? std::nullopt : std::optional{value}))
        return {Failure::NotSaved,
                "the preferences file could not be written; \"" + std::string{key} + "\" keeps its value"};
    m_log.write("settings: \"" + std::string{key} + "\" set to \"" + settingText(*row, value) + "\"");
    return {};
}

std::optional<std::string> portalHost(const std::optional<std::string>& environment, const Settings& settings)
{
    if (environment)
        return environment;
    std::string portal = settings.text("portal");
    if (portal.empty())
        return std::nullopt;
    return portal;
}

LampCareSettings lampCareSettingsFrom(const Settings& settings)
{
    LampCareSettings care;
    care.fade = unlessOff(settings.number("fade"));
    care.switchOn = settings.flag("switchOn");
    care.minimumBrightness = unlessOff(settings.number("minimumBrightness"));
    care.fitLamp = settings.flag("fitLamp");
    care.pace = unlessOff(settings.number("pace"));
    care.skipUnchanged = settings.flag("skipUnchanged");
    if (const auto seconds = unlessOff(settings.number("restoreAfter")))
        care.restoreAfter = std::chrono::seconds{*seconds};
    care.delay = std::chrono::milliseconds{settings.number("delay")};
    return care;
}

} // namespace glowcast
