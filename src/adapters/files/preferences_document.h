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

// The member that holds the lamp systems beside the first bridge.
inline constexpr const char* kSystemsKey = "systems";

// The lamp systems: a list of objects {"id","kind","address","pace","offset","syncport","user"}; none when absent or
// not a list. A member that is not an object, has no usable "id" (letters, digits, '-' and '_', at most
// 32), an unknown "kind", no text "address", or the id of an earlier one is left out; a "pace" that is
// not a whole number 1..1000 reads as the kind's default, an "offset" that is not a whole number
// -200..2000 as 0, a "syncport" that is not a whole number 0..65535 as 11988, a "user" that is not a text as none. Each
// of these is logged when log is given.
[[nodiscard]] std::vector<SystemRecord> systems(const QJsonObject& document, Log* log);

// The "systems" list to store for the records, in their order: each written over the stored object of
// its id, so members this program does not know stay ("pace", "offset", "syncport" and "user" removed when none,
// 0 or 11988), then the
// stored members that are no usable record, as they were. Null (the key removed) when that is nothing.
[[nodiscard]] QJsonValue systemsValue(const QJsonObject& document, const std::vector<SystemRecord>& records);

// What the document holds under a settings key; a JSON kind other than a text, true/false, a list
// of texts or a whole number is described in otherKind.
[[nodiscard]] StoredSetting setting(const QJsonObject& document, std::string_view key);
[[nodiscard]] QJsonValue settingValue(const SettingValue& value);

// Writes the reading of every member to log once, so that trouble shows when the file is loaded.
void report(const QJsonObject& document, Log& log);

} // namespace preferences_document

} // namespace glowcast
