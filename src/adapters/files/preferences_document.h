#pragma once

#include "core/ports/log.h"
#include "core/ports/preferences.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace glowcast {

// The preferences document (see FilePreferences) apart from the file that holds it, so that it can
// be tested and fuzzed alone.
namespace preferences_document {

// The member that holds the lamp selection.
inline constexpr const char* kLampsKey = "lamps";

// The document in bytes, or nothing with the reason when the bytes are not one JSON object.
struct Parsed {
    std::optional<QJsonObject> document;
    QString error;
};
[[nodiscard]] Parsed parse(const QByteArray& bytes);

// The text under key; nothing when absent or not a text (logged when log is given).
[[nodiscard]] std::optional<std::string> text(const QJsonObject& document, std::string_view key, Log* log);

// The saved selection; nothing when absent or not a list. Records that are not objects or have no
// text "id" are left out; a record without a boolean "enabled" reads as disabled; a missing name
// reads as empty. Each of these is logged when log is given.
[[nodiscard]] std::optional<std::vector<LampEntry>> lamps(const QJsonObject& document, Log* log);

[[nodiscard]] QJsonValue lampsValue(const std::vector<LampEntry>& lamps);

// What the document holds under a settings key; a JSON kind other than a text, true/false, a list
// of texts or a whole number is described in otherKind.
[[nodiscard]] StoredSetting setting(const QJsonObject& document, std::string_view key);
[[nodiscard]] QJsonValue settingValue(const SettingValue& value);

// Writes the reading of every member to log once, so that trouble shows when the file is loaded.
void report(const QJsonObject& document, Log& log);

} // namespace preferences_document

} // namespace glowcast
