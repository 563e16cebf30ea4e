#pragma once

// What the fuzz targets share: the input as text or cut into parts, and the check that makes a
// broken promise a finding.

#include "support/recording_log.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace glowcast::fuzz {

inline std::string_view textOf(const std::uint8_t* data, std::size_t size)
{
    return {reinterpret_cast<const char*>(data), size}; // NOLINT: the fuzzer's bytes as text
}

// Ends the run as a finding when what must hold does not.
inline void require(bool holds)
{
    if (!holds)
        std::abort();
}

// The input cut at NUL bytes into at most 40 parts, padded with empty ones to at least `least`.
inline std::vector<std::string> partsOf(const std::uint8_t* data, std::size_t size, std::size_t least)
{
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < size && parts.size() < 40; ++i) {
        if (data[i] == 0)
            parts.emplace_back();
        else
            parts.back().push_back(static_cast<char>(data[i]));
    }
    parts.resize(std::max(parts.size(), least));
    return parts;
}

} // namespace glowcast::fuzz
