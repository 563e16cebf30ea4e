#pragma once

#include "core/json/value.h"
#include "core/ports/log.h"

#include <string>
#include <string_view>

namespace glowcast {

// The JSON text that the bridge is sent: keys quoted, nested dictionaries as objects, numbers
// truncated toward zero to a 32-bit integer, the texts "true", "false" and any text that starts
// with "[" bare, every other text quoted. Nothing is escaped and no white space is added.
[[nodiscard]] std::string JSONFromDictionary(const Dictionary& dictionary);

// Reads a bridge or portal reply. Not a general JSON reader: it strips the outer brackets and
// braces, cuts at the top-level commas, splits each piece at its first colon and returns every
// leaf as text; values that start with "{" are read as nested dictionaries. Never fails: text
// that does not follow these rules gives a partial or empty dictionary. Writes its working to log.
[[nodiscard]] Dictionary dictionaryFromJSON(std::string_view text, Log& log);

} // namespace glowcast
