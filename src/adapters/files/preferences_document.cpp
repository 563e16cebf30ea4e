#include "adapters/files/preferences_document.h"

#include "core/lamp_systems/system_kinds.h"
#include "core/text/log_text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace glowcast {

namespace {

std::string inQuotes(std::string_view text)
{
    return "\"" + std::string{text} + "\"";
}

// The power of ten of a number's leading digit, from its text ("-12.5e3" is 4), plus its exponent;
// saturated, so that no exponent text overflows it.
long long decimalMagnitude(std::string_view number)
{
    long long magnitude = 0;
    std::size_t at = number.starts_with('-') ? 1 : 0;
    long long wholeDigits = 0;
    bool leading = true;
    for (; at < number.size() && std::isdigit(static_cast<unsigned char>(number[at])) != 0; ++at)
        if (!leading || number[at] != '0') {
            leading = false;
            ++wholeDigits;
        }
    if (wholeDigits > 0) {
        magnitude = wholeDigits - 1;
    } else if (at < number.size() && number[at] == '.') {
        for (++at; at < number.size() && number[at] == '0'; ++at)
            --magnitude;
        --magnitude;
    }
    const std::size_t exponent = number.find_first_of("eE");
    if (exponent == std::string_view::npos)
        return magnitude;
    std::size_t digits = exponent + 1;
    const bool negative = digits < number.size() && number[digits] == '-';
    if (digits < number.size() && (number[digits] == '-' || number[digits] == '+'))
        ++digits;
    long long value = 0;
    for (; digits < number.size() && std::isdigit(static_cast<unsigned char>(number[digits])) != 0; ++digits)
        value = std::min(value * 10 + (number[digits] - '0'), 1'000'000'000LL);
    return magnitude + (negative ? -value : value);
}

// The JSON text with every number a double cannot hold written as the nearest one it can: the
// largest double for one too large, zero for one too small. The JSON reader refuses such a number
// and with it the whole document, though the text is valid; this way only the key that holds it
// reads as out of range.
QByteArray withNumbersInRange(const QByteArray& bytes)
{
    QByteArray result;
    qsizetype copied = 0;
    bool inText = false;
    for (qsizetype at = 0; at < bytes.size(); ++at) {
        const char c = bytes[at];
        if (inText) {
            if (c == '\\')
                ++at;
            else if (c == '"')
                inText = false;
            continue;
        }
        if (c == '"') {
            inText = true;
            continue;
        }
        if (c != '-' && std::isdigit(static_cast<unsigned char>(c)) == 0)
            continue;
        qsizetype end = at;
        while (end < bytes.size() &&
               (std::isdigit(static_cast<unsigned char>(bytes[end])) != 0 ||
                std::strchr("+-.eE", bytes[end]) != nullptr) &&
               bytes[end] != '\0')
            ++end;
        const std::string_view number(bytes.constData() + at, static_cast<std::size_t>(end - at));
        double value = 0;
        const auto [stop, failure] = std::from_chars(number.data(), number.data() + number.size(), value);
        if (failure == std::errc::result_out_of_range && stop == number.data() + number.size()) {
            const bool negative = number.starts_with('-');
            result.append(bytes.constData() + copied, at - copied);
            if (decimalMagnitude(number) > 0)
                result.append(negative ? "-1.7976931348623157e308" : "1.7976931348623157e308");
            else
                result.append(negative ? "-0" : "0");
            copied = end;
        }
        at = end - 1;
    }
    if (copied == 0)
        return bytes;
    result.append(bytes.constData() + copied, bytes.size() - copied);
    return result;
}

} // namespace

namespace preferences_document {

Parsed parse(const QByteArray& bytes)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(withNumbersInRange(bytes), &error);
    if (error.error != QJsonParseError::NoError)
        return {std::nullopt,
                QStringLiteral("not valid JSON: %1 at byte %2").arg(error.errorString()).arg(error.offset)};
    if (!document.isObject())
        return {std::nullopt, QStringLiteral("the document is not a JSON object")};
    return {document.object(), {}};
}

std::optional<std::string> text(const QJsonObject& document, std::string_view key, Log* log)
{
    const QJsonValue value = document.value(QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size())));
    if (value.isUndefined())
        return std::nullopt;
    if (!value.isString()) {
        if (log != nullptr)
            log->write("preferences: " + inQuotes(key) + " is not a text; it reads as absent");
        return std::nullopt;
    }
    return value.toString().toStdString();
}

std::optional<std::vector<LampEntry>> lamps(const QJsonObject& document, Log* log)
{
    const QJsonValue value = document.value(QLatin1String(kLampsKey));
    if (value.isUndefined())
        return std::nullopt;
    if (!value.isArray()) {
        if (log != nullptr)
            log->write("preferences: \"lamps\" is not a list; it reads as absent");
        return std::nullopt;
    }
    const QJsonArray records = value.toArray();
    std::vector<LampEntry> entries;
    entries.reserve(static_cast<std::size_t>(records.size()));
    for (qsizetype index = 0; index < records.size(); ++index) {
        const std::string where = "preferences: lamp record " + std::to_string(index);
        const QJsonValue record = records.at(index);
        if (!record.isObject()) {
            if (log != nullptr)
                log->write(where + " is not an object; left out");
            continue;
        }
        const QJsonObject fields = record.toObject();
        const QJsonValue id = fields.value(QLatin1String("id"));
        if (!id.isString()) {
            if (log != nullptr)
                log->write(where + " has no text \"id\"; left out");
            continue;
        }
        LampEntry entry;
        entry.id = id.toString().toStdString();
        const QJsonValue name = fields.value(QLatin1String("name"));
        if (name.isString())
            entry.name = name.toString().toStdString();
        else if (!name.isUndefined() && log != nullptr)
            log->write(where + " (id " + inQuotes(entry.id) + ") has a \"name\" that is not a text; it reads as empty");
        const QJsonValue enabled = fields.value(QLatin1String("enabled"));
        if (enabled.isBool())
            entry.enabled = enabled.toBool();
        else if (!enabled.isUndefined() && log != nullptr)
            log->write(where + " (id " + inQuotes(entry.id) +
                       ") has an \"enabled\" that is not true or false; it reads as disabled");
        entries.push_back(std::move(entry));
    }
    return entries;
}

QJsonValue lampsValue(const std::vector<LampEntry>& lamps)
{
    QJsonArray records;
    for (const LampEntry& lamp : lamps) {
        QJsonObject record;
        record.insert(QLatin1String("id"), QString::fromStdString(lamp.id));
        record.insert(QLatin1String("name"), QString::fromStdString(lamp.name));
        record.insert(QLatin1String("enabled"), lamp.enabled);
        records.append(record);
    }
    return records;
}

namespace {

constexpr int kLowestPace = 1;
constexpr int kHighestPace = 1000;

// Each member of a "systems" list as a record, or nothing for one that is not usable.
std::vector<std::optional<SystemRecord>> systemMembers(const QJsonArray& members, Log* log)
{
    std::vector<std::optional<SystemRecord>> read;
    read.reserve(static_cast<std::size_t>(members.size()));
    const auto skip = [&](const std::string& why) {
        if (log != nullptr)
            log->write(logLine("preferences: system record " + std::to_string(read.size()) + " " + why +
                               "; left out and kept in the file"));
        read.emplace_back();
    };
    for (const QJsonValue member : members) {
        if (!member.isObject()) {
            skip("is not an object");
            continue;
        }
        const QJsonObject fields = member.toObject();
        const std::string id = fields.value(QLatin1String("id")).toString().toStdString();
        if (!fields.value(QLatin1String("id")).isString() || !isSystemId(id)) {
            skip("has no usable \"id\" (letters, digits, '-' and '_', at most 32)");
            continue;
        }
        const std::string where = "(id " + inQuotes(id) + ")";
        const std::optional<SystemKind> kind =
            systemKindNamed(fields.value(QLatin1String("kind")).toString().toStdString());
        if (!kind) {
            skip(where + " has no \"kind\" this program knows");
            continue;
        }
        if (!fields.value(QLatin1String("address")).isString()) {
            skip(where + " has no text \"address\"");
            continue;
        }
        if (std::ranges::any_of(read, [&](const auto& earlier) { return earlier && earlier->id == id; })) {
            skip(where + " has the id of an earlier one");
            continue;
        }
        SystemRecord record{id, *kind, fields.value(QLatin1String("address")).toString().toStdString(), {}, {}};
        const QJsonValue pace = fields.value(QLatin1String("pace"));
        if (pace.isDouble() && pace.toDouble() == std::floor(pace.toDouble()) && pace.toDouble() >= kLowestPace &&
            pace.toDouble() <= kHighestPace)
            record.pace = static_cast<int>(pace.toDouble());
        else if (!pace.isUndefined() && log != nullptr)
            log->write(logLine("preferences: system record " + std::to_string(read.size()) + " " + where +
                               " has a \"pace\" that is not a whole number 1..1000; it reads as the kind's default"));
        const QJsonValue offset = fields.value(QLatin1String("offset"));
        const double ms = offset.toDouble();
        if (offset.isDouble() && ms == std::floor(ms) && ms >= static_cast<double>(kLowestOffset.count()) &&
            ms <= static_cast<double>(kHighestOffset.count()))
            record.offset = std::chrono::milliseconds{static_cast<std::int64_t>(ms)};
        else if (!offset.isUndefined() && log != nullptr)
            log->write(logLine("preferences: system record " + std::to_string(read.size()) + " " + where +
                               " has an \"offset\" that is not a whole number -200..2000; it reads as 0"));
        const QJsonValue syncPort = fields.value(QLatin1String("syncport"));
        const double port = syncPort.toDouble();
        if (syncPort.isDouble() && port == std::floor(port) && port >= 0 && port <= 65'535)
            record.syncPort = static_cast<int>(port);
        else if (!syncPort.isUndefined() && log != nullptr)
            log->write(logLine("preferences: system record " + std::to_string(read.size()) + " " + where +
                               " has a \"syncport\" that is not a whole number 0..65535; it reads as 11988"));
        const QJsonValue user = fields.value(QLatin1String("user"));
        if (user.isString())
            record.user = user.toString().toStdString();
        else if (!user.isUndefined() && log != nullptr)
            log->write(logLine("preferences: system record " + std::to_string(read.size()) + " " + where +
                               " has a \"user\" that is not a text; it reads as none"));
        read.emplace_back(std::move(record));
    }
    return read;
}

QJsonArray storedSystems(const QJsonObject& document)
{
    const QJsonValue value = document.value(QLatin1String(kSystemsKey));
    return value.isArray() ? value.toArray() : QJsonArray{};
}

} // namespace

std::vector<SystemRecord> systems(const QJsonObject& document, Log* log)
{
    const QJsonValue value = document.value(QLatin1String(kSystemsKey));
    if (value.isUndefined())
        return {};
    if (!value.isArray()) {
        if (log != nullptr)
            log->write("preferences: \"systems\" is not a list; the first bridge is the only lamp system");
        return {};
    }
    std::vector<SystemRecord> records;
    for (std::optional<SystemRecord>& member : systemMembers(value.toArray(), log))
        if (member)
            records.push_back(std::move(*member));
    return records;
}

QJsonValue systemsValue(const QJsonObject& document, const std::vector<SystemRecord>& records)
{
    const QJsonArray stored = storedSystems(document);
    const std::vector<std::optional<SystemRecord>> read = systemMembers(stored, nullptr);
    QJsonArray members;
    for (const SystemRecord& record : records) {
        QJsonObject fields;
        for (std::size_t i = 0; i < read.size(); ++i)
            if (read[i] && read[i]->id == record.id)
                fields = stored.at(static_cast<qsizetype>(i)).toObject();
        fields.insert(QLatin1String("id"), QString::fromStdString(record.id));
        fields.insert(QLatin1String("kind"),
                      QString::fromUtf8(systemKindName(record.kind).data(),
                                        static_cast<qsizetype>(systemKindName(record.kind).size())));
        fields.insert(QLatin1String("address"), QString::fromStdString(record.address));
        if (record.pace)
            fields.insert(QLatin1String("pace"), *record.pace);
        else
            fields.remove(QLatin1String("pace"));
        if (record.offset != std::chrono::milliseconds{0})
            fields.insert(QLatin1String("offset"), static_cast<qint64>(record.offset.count()));
        else
            fields.remove(QLatin1String("offset"));
        if (record.syncPort != kDefaultSyncPort)
            fields.insert(QLatin1String("syncport"), record.syncPort);
        else
            fields.remove(QLatin1String("syncport"));
        if (record.user)
            fields.insert(QLatin1String("user"), QString::fromStdString(*record.user));
        else
            fields.remove(QLatin1String("user"));
        members.append(fields);
    }
    for (std::size_t i = 0; i < read.size(); ++i)
        if (!read[i])
            members.append(stored.at(static_cast<qsizetype>(i)));
    if (members.isEmpty())
        return QJsonValue(QJsonValue::Null);
    return members;
}

void report(const QJsonObject& document, Log& log)
{
    (void)text(document, "username", &log);
    (void)text(document, "lastusedbridgeIP", &log);
    (void)lamps(document, &log);
    (void)systems(document, &log);
}

StoredSetting setting(const QJsonObject& document, std::string_view key)
{
    const QJsonValue value = document.value(QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size())));
    if (value.isUndefined())
        return {};
    if (value.isString())
        return {SettingValue{value.toString().toStdString()}, {}};
    if (value.isBool())
        return {SettingValue{value.toBool()}, {}};
    if (value.isArray()) {
        std::vector<std::string> texts;
        for (const QJsonValue entry : value.toArray()) {
            if (!entry.isString())
                return {std::nullopt, "a list with a member that is not a text"};
            texts.push_back(entry.toString().toStdString());
        }
        return {SettingValue{std::move(texts)}, {}};
    }
    if (value.isDouble()) {
        // Beyond 2^53 a JSON number no longer holds every whole number exactly.
        constexpr double kLargestExact = 9007199254740992.0;
        const double number = value.toDouble();
        if (std::fabs(number) > kLargestExact)
            return {std::nullopt, "a number out of range"};
        if (std::floor(number) == number)
            return {SettingValue{static_cast<std::int64_t>(number)}, {}};
        return {std::nullopt, "a number that is not whole"};
    }
    return {std::nullopt, value.isNull() ? "null" : "an object"};
}

QJsonValue settingValue(const SettingValue& value)
{
    if (const bool* flag = std::get_if<bool>(&value))
        return *flag;
    if (const std::int64_t* number = std::get_if<std::int64_t>(&value))
        return static_cast<qint64>(*number);
    if (const auto* texts = std::get_if<std::vector<std::string>>(&value)) {
        QJsonArray list;
        for (const std::string& text : *texts)
            list.append(QString::fromStdString(text));
        return list;
    }
    return QString::fromStdString(std::get<std::string>(value));
}

} // namespace preferences_document

} // namespace glowcast
