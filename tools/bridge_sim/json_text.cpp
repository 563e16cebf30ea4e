#include "bridge_sim/json_text.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <charconv>
#include <cmath>
#include <iterator>

namespace glowcast::sim {

namespace {

std::size_t skipSpace(const std::string& text, std::size_t at)
{
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r'))
        ++at;
    return at;
}

// The end of the string that opens at `at` (just past its closing quote).
std::size_t skipString(const std::string& text, std::size_t at)
{
    for (++at; at < text.size() && text[at] != '"'; ++at)
        if (text[at] == '\\')
            ++at;
    return at + 1;
}

// The end of the value that starts at `at`, in text already known to be valid JSON.
std::size_t skipValue(const std::string& text, std::size_t at)
{
    int depth = 0;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '"') {
            at = skipString(text, at) - 1;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            if (depth == 0)
                return at;
            --depth;
        } else if (c == ',' && depth == 0) {
            return at;
        }
    }
    return at;
}

} // namespace

std::string jsonNumber(double number)
{
    if (!std::isfinite(number))
        return "0";
    char text[32];
    const auto result = std::to_chars(std::begin(text), std::end(text), number);
    return std::string(text, result.ptr);
}

std::string jsonBool(bool value)
{
    return value ? "true" : "false";
}

std::string jsonObject(const Members& members)
{
    std::string out = "{";
    for (const auto& [name, value] : members)
        out += (out.size() > 1 ? "," : "") + jsonString(name) + ":" + value;
    return out + "}";
}

std::string jsonArray(const std::vector<std::string>& items)
{
    std::string out = "[";
    for (const std::string& item : items)
        out += (out.size() > 1 ? "," : "") + item;
    return out + "]";
}

std::string compact(const QJsonValue& value)
{
    if (value.isObject())
        return QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact).toStdString();
    if (value.isArray())
        return QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact).toStdString();
    if (value.isString())
        return jsonString(value.toString().toStdString());
    if (value.isBool())
        return jsonBool(value.toBool());
    if (value.isDouble())
        return jsonNumber(value.toDouble());
    return "null";
}

std::string plainText(const QJsonValue& value)
{
    return value.isString() ? value.toString().toStdString() : compact(value);
}

std::optional<Body> orderedMembers(const std::string& body)
{
    QJsonParseError error{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray(body.data(), static_cast<qsizetype>(body.size())), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    // Qt keeps members sorted by name; their written order comes from the text, which Qt has
    // just found valid, so each name is a string followed by a colon and a value.
    Body members;
    std::size_t at = skipSpace(body, skipSpace(body, 0) + 1);
    while (at < body.size() && body[at] == '"') {
        const std::size_t end = skipString(body, at);
        const QJsonDocument name =
            QJsonDocument::fromJson(QByteArray::fromStdString("[" + body.substr(at, end - at) + "]"));
        const std::string key = name.array().at(0).toString().toStdString();
        bool seen = false;
        for (const auto& member : members)
            seen = seen || member.first == key;
        if (!seen)
            members.emplace_back(key, object.value(QString::fromStdString(key)));
        at = skipSpace(body, skipValue(body, skipSpace(body, skipSpace(body, end) + 1)));
        at = skipSpace(body, at + 1); // past the comma (or the closing brace, which ends the loop)
    }
    return members;
}

} // namespace glowcast::sim
