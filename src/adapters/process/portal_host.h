#pragma once

#include <optional>
#include <string>

namespace glowcast {

// The discovery portal's "host" or "host:port", from the environment variable GLOWCAST_PORTAL.
// Unset or blank: nothing, and discovery goes straight to the last address that worked.
[[nodiscard]] std::optional<std::string> portalHostFromEnvironment();

} // namespace glowcast
