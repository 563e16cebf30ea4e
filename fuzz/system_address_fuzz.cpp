// Feeds the lamp systems' address reader arbitrary text, as a command line or a bus call may give it,
// and checks what must always hold: a broker address read has a host, a port a connection takes and a
// base topic of whole levels without wildcards, and a refused address always says why.
#include "core/lamp_systems/system_address.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto address = glowcast::parseMqttAddress(text)) {
        const std::string& base = address->baseTopic;
        if (address->host.empty() || address->port < 1 || address->port > 65535 || base.empty() ||
            base.front() == '/' || base.back() == '/' || base.find("//") != std::string::npos ||
            base.find_first_of(std::string_view("+#\0", 3)) != std::string::npos)
            std::abort();
    }
    for (const auto kind : {glowcast::SystemKind::Bridge, glowcast::SystemKind::Zigbee2Mqtt,
                            glowcast::SystemKind::HomeAssistant, glowcast::SystemKind::Wled}) {
        const glowcast::Outcome outcome = glowcast::checkSystemAddress(kind, text);
        if (outcome.ok() != outcome.message.empty())
            std::abort();
        if (kind == glowcast::SystemKind::Zigbee2Mqtt && outcome.ok() != glowcast::parseMqttAddress(text).has_value())
            std::abort();
    }
    return 0;
}
