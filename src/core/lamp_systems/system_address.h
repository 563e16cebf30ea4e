#pragma once

#include "core/lamp_systems/lamp_system.h"
#include "core/text/mqtt_address.h"
#include "core/text/outcome.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace glowcast {

// Whether a system of this kind can be reached at this address, by its kind's rule. InvalidValue with a
// sentence that says what the address should look like.
[[nodiscard]] Outcome checkSystemAddress(SystemKind kind, std::string_view address);

// Whether a broker takes the user name: 1 to kLongestBrokerUser bytes of UTF-8 without control characters
// (a name it does not take would make the connection anonymous). InvalidValue with a sentence that says so.
[[nodiscard]] Outcome checkBrokerUser(std::string_view user);

// The id a new system of this kind takes among the records: the kind's stem, then "-2", "-3"... A bridge starts at
// "bridge-2": the first bridge is the one whose lamps have plain ids.
[[nodiscard]] std::string newSystemId(SystemKind kind, std::span<const SystemRecord> records);

} // namespace glowcast
