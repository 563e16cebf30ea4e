// Reads arbitrary text as each reply a further bridge gives: its config, a pairing reply, a lamp list
// and a lamp's state. Whatever it is, no reader may crash, and what they give must be usable as it
// stands: a user name and every lamp key one URL segment, an id of letters and digits, a brightness
// of 1..254 and a state body the codec reads back.
#include "core/bridge/bridge_wire.h"
#include "core/json/json_codec.h"
#include "core/text/url_text.h"
#include "fuzz_support.h"

#include <algorithm>
#include <cctype>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace glowcast;
    NullLog log;
    const std::string_view reply = fuzz::textOf(data, size);
    (void)bridgeErrorType(reply);
    if (const auto id = bridgeIdFrom(reply))
        fuzz::require(std::ranges::all_of(*id, [](unsigned char c) { return std::isalnum(c) != 0; }));
    if (const auto user = pairedUserFrom(reply))
        fuzz::require(isUrlSegment(*user));
    for (const SystemLamp& lamp : bridgeLampsFrom(reply, "bridge-2", log).value_or(std::vector<SystemLamp>{}))
        fuzz::require(isUrlSegment(lamp.key));
    if (const auto state = bridgeLampStateFrom(reply)) {
        const auto brightness = state->shown.brightness;
        fuzz::require(!brightness || (*brightness >= 1 && *brightness <= 254));
        fuzz::require(!dictionaryFromJSON(bridgeRestoreBody(*state), log).empty());
    }
    return 0;
}
