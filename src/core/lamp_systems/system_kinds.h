#pragma once

#include "core/lamps/system_record.h"

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace glowcast {

// What a system of a kind takes beside its address.
enum class Credentials {
    None,        // nothing, or what it obtains itself (a bridge's user name, at its link button)
    BrokerLogin, // a broker's user, and with it a password from a file; both optional
    AccessToken, // an access token from a file, needed; a CA certificate to pin, optional
};

// All that sets a kind apart but its adapter, which the application keeps in a table of its own by kind.
struct SystemKindRow {
    SystemKind kind = SystemKind::Bridge;
    std::string_view name;   // as the preferences, the bus and glowcastctl spell it: "zigbee2mqtt"
    std::string_view label;  // as the window offers it: "Another bridge"
    std::string_view idStem; // a new system's id: "z2m", then "z2m-2", "z2m-3"...
    int defaultPace = 5;     // lamp states a second when the system sets none
    bool (*acceptsAddress)(std::string_view address) = nullptr;
    std::string_view addressForm;     // an empty address field's hint: "mqtt://HOST[:PORT][/BASE_TOPIC]"
    std::string_view addressRule;     // what an address is: "a broker's address mqtt://HOST[:PORT][/BASE_TOPIC]"
    std::string_view addressExamples; // "mqtt://192.168.1.5 or mqtt://broker.local:1884/zigbee2mqtt"
    Credentials credentials = Credentials::None;
    std::string_view usageArguments; // what follows "systems add NAME" in glowcastctl's usage
    std::string_view usageHelp;      // what such a system is, its lines split by '\n'
};

// Every kind, in the order the window, glowcastctl and the bus's refusals offer them.
[[nodiscard]] std::span<const SystemKindRow> systemKinds();
[[nodiscard]] const SystemKindRow& systemKindRow(SystemKind kind);
[[nodiscard]] std::string_view systemKindName(SystemKind kind); // "bridge", "zigbee2mqtt", ...
[[nodiscard]] std::optional<SystemKind> systemKindNamed(std::string_view name);
[[nodiscard]] int defaultPace(SystemKind kind);
// The lamp states a second a system is sent: its own pace when one is set, else its kind's, capped by
// the pace setting; at least 1.
[[nodiscard]] int systemPace(const SystemRecord& record, std::optional<int> paceSetting);

// The kinds' names or labels in the table's order, joined by separator; only those that take the
// credentials when they are given: "bridge, zigbee2mqtt, wled, homeassistant".
[[nodiscard]] std::string joinedKinds(std::string_view SystemKindRow::*text, std::string_view separator,
                                      std::optional<Credentials> taking = std::nullopt);
// The refusal of a word that names no kind, the word made printable:
// "\"hue\" is no kind of lamp system (bridge, zigbee2mqtt, wled, homeassistant)".
[[nodiscard]] std::string noSuchKind(std::string_view word);

} // namespace glowcast
