#include "core/lamps/system_record.h"

#include <algorithm>

namespace glowcast {
namespace {

constexpr std::size_t kLongestSystemId = 32;

bool isIdCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

} // namespace

bool isSystemId(std::string_view id)
{
    return !id.empty() && id.size() <= kLongestSystemId && std::ranges::all_of(id, isIdCharacter);
}

std::string lampIdOf(std::string_view systemId, std::string_view key)
{
    // The first bridge has no system id: its lamps keep the plain ids they always had.
    if (systemId.empty())
        return std::string{key};
    std::string id{systemId};
    id += '/';
    id += key;
    return id;
}

std::optional<SystemLampId> splitLampId(std::string_view id)
{
    // A system id never holds '/', so the first one ends it; the key may hold more (an endpoint).
    const auto slash = id.find('/');
    if (slash == std::string_view::npos)
        return std::nullopt;
    const std::string_view system = id.substr(0, slash);
    const std::string_view key = id.substr(slash + 1);
    if (!isSystemId(system) || key.empty())
        return std::nullopt;
    return SystemLampId{system, key};
}

} // namespace glowcast
