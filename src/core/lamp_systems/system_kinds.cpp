#include "core/lamp_systems/system_kinds.h"

#include "core/lamp_systems/system_address.h"
#include "core/text/log_text.h"
#include "core/text/url_text.h"

#include <algorithm>
#include <array>

namespace glowcast {

namespace {

// The order of the rows is the order every list of kinds shows them in.
constexpr std::array<SystemKindRow, kSystemKindCount> kKinds{{
    {
        .kind = SystemKind::Bridge,
        .name = "bridge",
        .label = "Another bridge",
        .idStem = "bridge",
        .defaultPace = 10,
        .acceptsAddress = [](std::string_view address) { return isUrlHost(address); },
        .addressForm = "HOST[:PORT]",
        .addressRule = "a host name or address with an optional port",
        .addressExamples = "192.168.1.21 or hub.local:8080",
        .credentials = Credentials::None,
        .usageArguments = "ADDRESS",
        .usageHelp = "another bridge at host[:port]; it asks for its link button",
    },
    {
        .kind = SystemKind::Zigbee2Mqtt,
        .name = "zigbee2mqtt",
        .label = "zigbee2mqtt",
        .idStem = "z2m",
        .defaultPace = 5,
        .acceptsAddress = [](std::string_view address) { return parseMqttAddress(address).has_value(); },
        .addressForm = "mqtt://HOST[:PORT][/BASE_TOPIC]",
        .addressRule = "a broker's address mqtt://HOST[:PORT][/BASE_TOPIC]",
        .addressExamples = "mqtt://192.168.1.5 or mqtt://broker.local:1884/zigbee2mqtt",
        .credentials = Credentials::BrokerLogin,
        .usageArguments = "mqtt://HOST[:PORT][/BASE_TOPIC] [--user NAME --password-file FILE]",
        .usageHelp = "zigbee2mqtt's lamps through its broker (port 1883 and base\n"
                     "topic zigbee2mqtt unless given); the password is copied to\n"
                     "systems/ID.password in the configuration directory",
    },
    {
        .kind = SystemKind::Wled,
        .name = "wled",
        .label = "WLED",
        .idStem = "wled",
        .defaultPace = 5,
        // The scheme may be left out: WLED speaks plain HTTP only.
        .acceptsAddress =
            [](std::string_view address) {
                return isUrlHost(address.starts_with("http://") ? address.substr(7) : address);
            },
        .addressForm = "http://HOST[:PORT]",
        .addressRule = "a WLED address http://HOST[:PORT]",
        .addressExamples = "http://wled.local or http://10.0.0.7:8080",
        .credentials = Credentials::None,
        .usageArguments = "http://HOST[:PORT]",
        .usageHelp = "a WLED device; each of its segments is a lamp",
    },
    {
        .kind = SystemKind::HomeAssistant,
        .name = "homeassistant",
        .label = "Home Assistant",
        .idStem = "ha",
        .defaultPace = 5,
        .acceptsAddress =
            [](std::string_view address) {
                return std::ranges::any_of(std::array<std::string_view, 2>{"http://", "https://"}, [&](auto scheme) {
                    return address.starts_with(scheme) && isUrlHost(address.substr(scheme.size()));
                });
            },
        .addressForm = "http(s)://HOST[:PORT]",
        .addressRule = "an address http(s)://HOST[:PORT]",
        .addressExamples = "http://homeassistant.local:8123",
        .credentials = Credentials::AccessToken,
        .usageArguments = "http(s)://HOST[:PORT] --token-file FILE [--ca-file FILE]",
        .usageHelp = "Home Assistant's lights (port 8123 unless given); the\n"
                     "long-lived access token is copied to systems/ID.token, a\n"
                     "CA certificate to pin to systems/ID.ca.pem",
    },
}};

constexpr bool holdsEachKindOnce()
{
    for (std::size_t kind = 0; kind < kSystemKindCount; ++kind)
        if (std::ranges::count(kKinds, static_cast<SystemKind>(kind), &SystemKindRow::kind) != 1)
            return false;
    return true;
}
static_assert(holdsEachKindOnce(), "every kind has one row");

} // namespace

std::span<const SystemKindRow> systemKinds()
{
    return kKinds;
}

const SystemKindRow& systemKindRow(SystemKind kind)
{
    return *std::ranges::find(kKinds, kind, &SystemKindRow::kind);
}

std::string_view systemKindName(SystemKind kind)
{
    return systemKindRow(kind).name;
}

std::optional<SystemKind> systemKindNamed(std::string_view name)
{
    const auto row = std::ranges::find(kKinds, name, &SystemKindRow::name);
    if (row == kKinds.end())
        return std::nullopt;
    return row->kind;
}

int defaultPace(SystemKind kind)
{
    return systemKindRow(kind).defaultPace;
}

int systemPace(const SystemRecord& record, std::optional<int> paceSetting)
{
    const int kindPace = std::min(defaultPace(record.kind), paceSetting.value_or(defaultPace(record.kind)));
    return std::max(record.pace.value_or(kindPace), 1);
}

std::string joinedKinds(std::string_view SystemKindRow::*text, std::string_view separator,
                        std::optional<Credentials> taking)
{
    std::string joined;
    for (const SystemKindRow& row : kKinds) {
        if (taking && row.credentials != *taking)
            continue;
        if (!joined.empty())
            joined += separator;
        joined += row.*text;
    }
    return joined;
}

std::string noSuchKind(std::string_view word)
{
    return "\"" + printable(word) + "\" is no kind of lamp system (" + joinedKinds(&SystemKindRow::name, ", ") + ")";
}

} // namespace glowcast
