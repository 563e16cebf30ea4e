#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace glowcast {

// An 8-bit RGB picture as PNG bytes; rgb holds width * height * 3 bytes, row by row from the top
// left. Empty when libspng cannot encode it.
[[nodiscard]] std::vector<std::uint8_t> encodePng(int width, int height, std::span<const std::uint8_t> rgb);

} // namespace glowcast
