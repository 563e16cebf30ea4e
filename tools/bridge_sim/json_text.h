#pragma once

// The simulator's JSON: replies are written as text in the order a bridge writes its members (a
// lamp list by ascending id, a lamp's state first), and request bodies are read with Qt, keeping
// the order of their members, which the bridge answers in. Strings are written by the core's
// jsonString: a recorded body that is not UTF-8 stays readable JSON.

#include "core/text/log_text.h"

#include <QJsonValue>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace glowcast::sim {

// Members of an object in order: a name and its value as JSON text.
using Members = std::vector<std::pair<std::string, std::string>>;

[[nodiscard]] std::string jsonNumber(double number);
[[nodiscard]] std::string jsonBool(bool value);
[[nodiscard]] std::string jsonObject(const Members& members);
[[nodiscard]] std::string jsonArray(const std::vector<std::string>& items);
// A value as compact JSON text; a string bare, as the bridge quotes values in its error texts.
[[nodiscard]] std::string plainText(const QJsonValue& value);
[[nodiscard]] std::string compact(const QJsonValue& value);

// A request body's members in the order they were written.
using Body = std::vector<std::pair<std::string, QJsonValue>>;

// A body that is one JSON object, as its members (a repeated name once, where it first stands,
// with the value Qt keeps); nothing when it is not an object.
[[nodiscard]] std::optional<Body> orderedMembers(const std::string& body);

} // namespace glowcast::sim
