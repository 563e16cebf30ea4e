// Feeds the art URL reader arbitrary text, as a player may publish it, and checks what must always
// hold: no crash, no hang, nothing over the cover limit, and a refusal always says why.
#include "core/covers/art_url.h"
#include "core/text/log_text.h"
#include "fuzz_support.h"

#include <variant>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace glowcast;
    constexpr std::size_t kLimit = 4096;
    const std::string_view text = fuzz::textOf(data, size);
    const ArtSource source = parseArtUrl(text, kLimit);
    const auto* bytes = std::get_if<ArtData>(&source);
    fuzz::require(bytes == nullptr || bytes->bytes.size() <= kLimit);
    const auto* refused = std::get_if<ArtRefused>(&source);
    fuzz::require(refused == nullptr || !refused->reason.empty());
    // The decoders on their own, and the shortening every log line uses.
    (void)percentDecode(text);
    (void)decodeBase64(text);
    fuzz::require(printable(text, 40).size() <= 40 + 32);
    return 0;
}
