// Feeds the reply reader arbitrary text and checks what it must always hold: no crash, no hang,
// and an encoding of whatever it made that it reads back without trouble.
#include "core/json_codec.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

class CountingLog final : public glowcast::Log {
public:
    std::size_t bytes = 0;
    void write(std::string_view line) override { bytes += line.size(); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CountingLog log;
    const std::string_view text(reinterpret_cast<const char*>(data),
                                size); // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
    const glowcast::Dictionary result = glowcast::dictionaryFromJSON(text, log);
    const std::string encoded = glowcast::JSONFromDictionary(result);
    (void)glowcast::dictionaryFromJSON(encoded, log);
    return 0;
}
