// Feeds the art URL reader arbitrary text, as a player may publish it, and checks what must always
// hold: no crash, no hang, nothing over the cover limit, and a refusal always says why.
#include "core/covers/art_url.h"
#include "core/log_text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <variant>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::size_t kLimit = 4096;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const glowcast::ArtSource source = glowcast::parseArtUrl(text, kLimit);
    if (const auto* bytes = std::get_if<glowcast::ArtData>(&source); bytes != nullptr && bytes->bytes.size() > kLimit)
        std::abort();
    if (const auto* refused = std::get_if<glowcast::ArtRefused>(&source); refused != nullptr && refused->reason.empty())
        std::abort();
    // The decoders on their own, and the shortening every log line uses.
    (void)glowcast::percentDecode(text);
    (void)glowcast::decodeBase64(text);
    if (glowcast::printable(text, 40).size() > 40 + 32)
        std::abort();
    return 0;
}
