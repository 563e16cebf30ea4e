// Feeds the lamp systems' address reader arbitrary text, as a command line or a bus call may give it,
// and checks what must always hold: a broker address read has a host, a port a connection takes and a
// base topic of whole levels without wildcards, and a refused address always says why.
#include "core/lamp_systems/system_address.h"
#include "core/lamp_systems/system_kinds.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace glowcast;
    const std::string_view text = fuzz::textOf(data, size);
    if (const auto address = parseMqttAddress(text)) {
        const std::string& base = address->baseTopic;
        fuzz::require(!address->host.empty() && address->port >= 1 && address->port <= 65535 && !base.empty() &&
                      base.front() != '/' && base.back() != '/' && base.find("//") == std::string::npos &&
                      base.find_first_of(std::string_view("+#\0", 3)) == std::string::npos);
    }
    for (const SystemKindRow& row : systemKinds()) {
        const Outcome outcome = checkSystemAddress(row.kind, text);
        fuzz::require(outcome.ok() == outcome.message.empty());
        fuzz::require(row.kind != SystemKind::Zigbee2Mqtt || outcome.ok() == parseMqttAddress(text).has_value());
    }
    return 0;
}
