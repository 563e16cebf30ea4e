#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

namespace glowcast {

class Value;

// The in-memory form of a JSON object: text keys, each at most once, mapped to values.
// Entries enumerate in insertion order; storing under a present key replaces the value in place,
// so the key keeps its first position. That order is the one the encoder writes and the one in
// which the lamps of a decoded lamp list appear.
class Dictionary {
public:
    Dictionary() = default;
    Dictionary(std::initializer_list<std::pair<std::string, Value>> entries);

    void set(std::string key, Value value);
    [[nodiscard]] const Value* find(std::string_view key) const;
    [[nodiscard]] Value* find(std::string_view key);
    [[nodiscard]] bool contains(std::string_view key) const { return find(key) != nullptr; }
    // The text stored under key, or nothing when absent or not a text.
    [[nodiscard]] std::optional<std::string> text(std::string_view key) const;
    // The nested dictionary stored under key, or null when absent or not a dictionary.
    [[nodiscard]] const Dictionary* dictionary(std::string_view key) const;

    [[nodiscard]] std::size_t size() const { return m_keys.size(); }
    [[nodiscard]] bool empty() const { return m_keys.empty(); }
    [[nodiscard]] const std::vector<std::string>& keys() const { return m_keys; }
    [[nodiscard]] const Value& valueAt(std::size_t index) const;

    friend bool operator==(const Dictionary& a, const Dictionary& b);

private:
    // Hashes a key given as std::string or std::string_view alike, so lookups need no copy.
    struct KeyHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view key) const { return std::hash<std::string_view>{}(key); }
    };

    std::vector<std::string> m_keys;
    std::vector<Value> m_values;
    // Position of each key in m_keys, so that a reply with thousands of entries reads in linear time.
    std::unordered_map<std::string, std::size_t, KeyHash, std::equal_to<>> m_index;
};

// A text, a number (integer or floating point), a boolean flag or a nested dictionary.
// There is no list kind: a list travels as a text that starts with "[".
class Value {
public:
    using Storage = std::variant<std::string, std::int64_t, double, bool, Dictionary>;

    Value() : m_storage(std::string{}) {}
    Value(std::string text) : m_storage(std::move(text)) {}            // NOLINT(google-explicit-constructor)
    Value(const char* text) : m_storage(std::string{text}) {}          // NOLINT(google-explicit-constructor)
    Value(std::int64_t number) : m_storage(number) {}                  // NOLINT(google-explicit-constructor)
    Value(int number) : m_storage(std::int64_t{number}) {}             // NOLINT(google-explicit-constructor)
    Value(double number) : m_storage(number) {}                        // NOLINT(google-explicit-constructor)
    Value(bool flag) : m_storage(flag) {}                              // NOLINT(google-explicit-constructor)
    Value(Dictionary dictionary) : m_storage(std::move(dictionary)) {} // NOLINT(google-explicit-constructor)

    [[nodiscard]] bool isText() const { return std::holds_alternative<std::string>(m_storage); }
    [[nodiscard]] bool isNumber() const
    {
        return std::holds_alternative<std::int64_t>(m_storage) || std::holds_alternative<double>(m_storage);
    }
    [[nodiscard]] bool isBool() const { return std::holds_alternative<bool>(m_storage); }
    [[nodiscard]] bool isDictionary() const { return std::holds_alternative<Dictionary>(m_storage); }

    [[nodiscard]] const std::string* asText() const { return std::get_if<std::string>(&m_storage); }
    [[nodiscard]] const Dictionary* asDictionary() const { return std::get_if<Dictionary>(&m_storage); }
    [[nodiscard]] std::optional<double> asNumber() const;
    [[nodiscard]] std::optional<bool> asBool() const;

    [[nodiscard]] const Storage& storage() const { return m_storage; }

    friend bool operator==(const Value&, const Value&) = default;

private:
    Storage m_storage;
};

// The readable printed form used where a log line shows an object: texts quoted, numbers and
// flags bare, dictionaries as {"key":value,...} in enumeration order.
[[nodiscard]] std::string describe(const Value& value);
[[nodiscard]] std::string describe(const Dictionary& dictionary);
// A missing object prints as "(null)".
[[nodiscard]] std::string describe(const std::optional<std::string>& text);

} // namespace glowcast
