#include "adapters/process/portal_host.h"

#include <cstdlib>
#include <string_view>

namespace glowcast {

std::optional<std::string> portalHostFromEnvironment()
{
    const char* value = std::getenv("GLOWCAST_PORTAL");
    if (value == nullptr)
        return std::nullopt;
    std::string_view text{value};
    constexpr std::string_view kBlank = " \t\r\n";
    const std::size_t first = text.find_first_not_of(kBlank);
    if (first == std::string_view::npos)
        return std::nullopt;
    text = text.substr(first, text.find_last_not_of(kBlank) - first + 1);
    return std::string{text};
}

} // namespace glowcast
