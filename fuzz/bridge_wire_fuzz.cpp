// Reads arbitrary text as each reply a further bridge gives: its config, a pairing reply, a lamp list
// and a lamp's state. Whatever it is, no reader may crash, and what they give must be usable as it
// stands: a user name and every lamp key one URL segment, an id of letters and digits, a brightness
// of 1..254 and a state body the codec reads back.
#include "core/json_codec.h"
#include "core/lamp_systems/bridge_wire.h"
#include "core/url_text.h"
#include "support/recording_log.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    glowcast::NullLog log;
    const std::string_view reply(reinterpret_cast<const char*>(data), size); // NOLINT
    (void)glowcast::bridgeErrorType(reply);
    if (const auto id = glowcast::bridgeIdFrom(reply))
        for (const char c : *id)
            if (std::isalnum(static_cast<unsigned char>(c)) == 0)
                std::abort();
    if (const auto user = glowcast::pairedUserFrom(reply); user && !glowcast::isUrlSegment(*user))
        std::abort();
    if (const auto lamps = glowcast::bridgeLampsFrom(reply, "bridge-2", log))
        for (const glowcast::SystemLamp& lamp : *lamps)
            if (!glowcast::isUrlSegment(lamp.key))
                std::abort();
    if (const auto state = glowcast::bridgeLampStateFrom(reply)) {
        const auto brightness = state->shown.brightness;
        if (brightness && (*brightness < 1 || *brightness > 254))
            std::abort();
        if (glowcast::dictionaryFromJSON(glowcast::bridgeRestoreBody(*state), log).empty())
            std::abort();
    }
    return 0;
}
