#include "core/json/value.h"

#include <charconv>
#include <cmath>

namespace glowcast {

Dictionary::Dictionary(std::initializer_list<std::pair<std::string, Value>> entries)
{
    for (const auto& [key, value] : entries)
        set(key, value);
}

void Dictionary::set(std::string key, Value value)
{
    if (Value* present = find(key)) {
        *present = std::move(value);
        return;
    }
    m_index.emplace(key, m_keys.size());
    m_keys.push_back(std::move(key));
    m_values.push_back(std::move(value));
}

const Value* Dictionary::find(std::string_view key) const
{
    const auto found = m_index.find(key);
    return found == m_index.end() ? nullptr : &m_values[found->second];
}

Value* Dictionary::find(std::string_view key)
{
    return const_cast<Value*>(std::as_const(*this).find(key)); // NOLINT(cppcoreguidelines-pro-type-const-cast)
}

std::optional<std::string> Dictionary::text(std::string_view key) const
{
    const Value* value = find(key);
    if (value == nullptr || !value->isText())
        return std::nullopt;
    return *value->asText();
}

const Dictionary* Dictionary::dictionary(std::string_view key) const
{
    const Value* value = find(key);
    return value == nullptr ? nullptr : value->asDictionary();
}

const Value& Dictionary::valueAt(std::size_t index) const
{
    return m_values.at(index);
}

bool operator==(const Dictionary& a, const Dictionary& b)
{
    return a.m_keys == b.m_keys && a.m_values == b.m_values;
}

std::optional<double> Value::asNumber() const
{
    if (const auto* integer = std::get_if<std::int64_t>(&m_storage))
        return static_cast<double>(*integer);
    if (const auto* floating = std::get_if<double>(&m_storage))
        return *floating;
    return std::nullopt;
}

std::optional<bool> Value::asBool() const
{
    if (const auto* flag = std::get_if<bool>(&m_storage))
        return *flag;
    return std::nullopt;
}

namespace {

std::string describeNumber(double number)
{
    if (!std::isfinite(number))
        return std::isnan(number) ? "nan" : (number < 0 ? "-inf" : "inf");
    char buffer[64];
    auto [end, error] = std::to_chars(std::begin(buffer), std::end(buffer), number);
    if (error != std::errc{})
        return "?";
    return {std::begin(buffer), end};
}

void describeInto(std::string& out, const Dictionary& dictionary);

void describeInto(std::string& out, const Value& value)
{
    const auto& storage = value.storage();
    if (const auto* text = std::get_if<std::string>(&storage)) {
        out += '"';
        out += *text;
        out += '"';
    } else if (const auto* integer = std::get_if<std::int64_t>(&storage)) {
        out += std::to_string(*integer);
    } else if (const auto* floating = std::get_if<double>(&storage)) {
        out += describeNumber(*floating);
    } else if (const auto* flag = std::get_if<bool>(&storage)) {
        out += *flag ? "true" : "false";
    } else if (const auto* nested = std::get_if<Dictionary>(&storage)) {
        describeInto(out, *nested);
    }
}

void describeInto(std::string& out, const Dictionary& dictionary)
{
    out += '{';
    for (std::size_t i = 0; i < dictionary.size(); ++i) {
        if (i > 0)
            out += ',';
        out += '"';
        out += dictionary.keys()[i];
        out += "\":";
        describeInto(out, dictionary.valueAt(i));
    }
    out += '}';
}

} // namespace

std::string describe(const Value& value)
{
    std::string out;
    describeInto(out, value);
    return out;
}

std::string describe(const Dictionary& dictionary)
{
    std::string out;
    describeInto(out, dictionary);
    return out;
}

std::string describe(const std::optional<std::string>& text)
{
    return text ? *text : std::string{"(null)"};
}

} // namespace glowcast
