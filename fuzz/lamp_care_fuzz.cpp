// Lamp care's readers of bridge replies on arbitrary text: a list field, a Retry-After header and a
// decoded lamp record. A chromaticity written out reads back; a fitted body holds only what its lamp takes.
#include "core/bridge/bridge_body.h"
#include "core/bridge/bridge_fields.h"
#include "core/bridge/bridge_overload.h"
#include "core/bridge/lamp_record.h"
#include "core/json/json_codec.h"
#include "core/lamp_care/lamp_restorer.h"
#include "core/lamp_care/lamp_shaping.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace glowcast;
    NullLog log;
    const std::string_view text = fuzz::textOf(data, size);
    (void)retryAfterFromHeader(text);
    (void)gamutFrom(text);
    if (const auto point = chromaticityFrom(text))
        fuzz::require(chromaticityFrom(chromaticityText(*point)).has_value());
    const Dictionary record = dictionaryFromJSON(text, log);
    (void)restoreBodyFrom("1", record, log);
    const LampCapabilities lamp = lampCapabilitiesFrom("1", record, log);
    const LampCareSettings settings{.fitLamp = true};
    const LampTarget target{255, chromaticityFrom(record.text("xy").value_or("")).value_or(Chromaticity{0.3, 0.3})};
    const Dictionary shaped = firstBridgeStateFields(shapedLampState(target, lamp, settings), lamp.kind);
    for (const std::string& key : shaped.keys())
        fuzz::require(takesAttribute(lamp.kind, key));
    return 0;
}
