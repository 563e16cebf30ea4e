#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace glowcast {

// The largest cover Glowcast reads from a player, whatever the URL: well above a 3000 x 3000 photo.
inline constexpr std::size_t kMaximumCoverBytes = std::size_t{32} << 20;
// Any art URL but a data URI longer than this is not a URL a player means.
inline constexpr std::size_t kMaximumArtUrlBytes = std::size_t{64} << 10;

// Where an art URL says the cover is.
struct ArtFile {
    std::string path; // absolute, percent-decoded
    friend bool operator==(const ArtFile&, const ArtFile&) = default;
};
struct ArtData {
    std::vector<std::uint8_t> bytes; // the data URI's payload, decoded
    friend bool operator==(const ArtData&, const ArtData&) = default;
};
struct ArtHttp {
    std::string url;
    friend bool operator==(const ArtHttp&, const ArtHttp&) = default;
};
struct ArtRefused {
    std::string reason; // for the log
    friend bool operator==(const ArtRefused&, const ArtRefused&) = default;
};
using ArtSource = std::variant<ArtFile, ArtData, ArtHttp, ArtRefused>;

// Reads an mpris:artUrl. file:// (no host or "localhost") gives the decoded path; data: URIs are
// decoded here (base64 or percent-encoded; the media type is not read, the bytes tell the kind);
// http:// and https:// are fetched later, the streaming client's page URL rewritten to its image
// server. Everything else is refused with the reason, as are payloads over maximumCoverBytes.
[[nodiscard]] ArtSource parseArtUrl(std::string_view url, std::size_t maximumCoverBytes = kMaximumCoverBytes);

// Percent-decoding; nothing when an escape is not "%" and two hex digits.
[[nodiscard]] std::optional<std::string> percentDecode(std::string_view text);
// Base64 (the URL-safe alphabet too), ignoring white space, padding optional; nothing when broken.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> decodeBase64(std::string_view text);

} // namespace glowcast
