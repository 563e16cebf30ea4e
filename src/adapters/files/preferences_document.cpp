#include "preferences_document.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>

namespace glowcast {

namespace {

std::string inQuotes(std::string_view text)
{
    return "\"" + std::string{text} + "\"";
}

} // namespace

namespace preferences_document {

Parsed parse(const QByteArray& bytes)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
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

void report(const QJsonObject& document, Log& log)
{
    (void)text(document, "username", &log);
    (void)text(document, "lastusedbridgeIP", &log);
    (void)lamps(document, &log);
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
        if (std::floor(number) == number && std::fabs(number) <= kLargestExact)
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
