#include "core/bridge/bridge_wire.h"

#include "core/bridge/bridge_body.h"
#include "core/bridge/bridge_fields.h"
#include "core/bridge/lamp_record.h"
#include "core/json/json_codec.h"
#include "core/lamps/lamp_capabilities.h"
#include "core/text/url_text.h"

#include <algorithm>
#include <cctype>

namespace glowcast {
namespace {

constexpr std::size_t kLongestBridgeId = 64;
// A bridge's user names are some 40 characters; a longer one is no user name it gave.
constexpr std::size_t kLongestUser = 128;
constexpr int kLowestBrightness = 1;
constexpr int kHighestBrightness = 254;

Dictionary decoded(std::string_view reply)
{
    NullLog quiet;
    return dictionaryFromJSON(reply, quiet);
}

// A reply that is one object, not a list of results or an error page.
bool isObject(std::string_view reply)
{
    const auto first =
        std::ranges::find_if_not(reply, [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
    return first != reply.end() && *first == '{';
}

} // namespace

std::string bridgeStateBody(const LampState& state)
{
    return JSONFromDictionary(bridgeStateFields(state));
}

std::string bridgeRestoreBody(const ReadLampState& state)
{
    if (!state.on)
        return JSONFromDictionary(Dictionary{{"on", false}});
    LampState shown = state.shown;
    shown.switchOn = true;
    return JSONFromDictionary(bridgeStateFields(shown));
}

std::optional<int> bridgeErrorType(std::string_view reply)
{
    const Dictionary fields = decoded(reply);
    const Value* error = fields.find("error");
    if (error == nullptr)
        return std::nullopt;
    const Dictionary* nested = error->asDictionary();
    const std::optional<std::int64_t> type = nested != nullptr ? wholeNumberFrom(nested->find("type")) : std::nullopt;
    return type && *type >= 0 && *type < 100000 ? static_cast<int>(*type) : -1;
}

std::optional<std::string> bridgeIdFrom(std::string_view config)
{
    std::optional<std::string> id = decoded(config).text("bridgeid");
    if (!id || id->empty() || id->size() > kLongestBridgeId ||
        !std::ranges::all_of(*id, [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }))
        return std::nullopt;
    return id;
}

std::optional<std::string> pairedUserFrom(std::string_view reply)
{
    const Dictionary fields = decoded(reply);
    const Dictionary* success = fields.dictionary("success");
    std::optional<std::string> user = success != nullptr ? success->text("username") : std::nullopt;
    if (!user || !isUrlSegment(*user) || user->size() > kLongestUser)
        return std::nullopt;
    return user;
}

std::optional<std::vector<SystemLamp>> bridgeLampsFrom(std::string_view reply, std::string_view systemId, Log& log)
{
    if (!isObject(reply))
        return std::nullopt;
    const Dictionary fields = decoded(reply);
    if (fields.contains("error"))
        return std::nullopt;
    std::vector<SystemLamp> lamps;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string& key = fields.keys()[i];
        const Dictionary* record = fields.valueAt(i).asDictionary();
        if (record == nullptr || !isUrlSegment(key))
            continue;
        SystemLamp lamp{key, record->text("name").value_or(key),
                        lampCapabilitiesFrom(lampIdOf(systemId, key), *record, log)};
        const Dictionary* state = record->dictionary("state");
        lamp.available = flagFrom(state != nullptr ? state->find("reachable") : nullptr).value_or(true);
        lamps.push_back(std::move(lamp));
    }
    return lamps;
}

std::optional<ReadLampState> bridgeLampStateFrom(std::string_view reply)
{
    if (!isObject(reply))
        return std::nullopt;
    const Dictionary fields = decoded(reply);
    const Dictionary* state = fields.dictionary("state");
    const std::optional<bool> on = state != nullptr ? flagFrom(state->find("on")) : std::nullopt;
    if (!on)
        return std::nullopt;
    ReadLampState read{*on, {}};
    if (const auto bri = wholeNumberFrom(state->find("bri")))
        read.shown.brightness = static_cast<int>(std::clamp<std::int64_t>(*bri, kLowestBrightness, kHighestBrightness));
    const std::optional<std::string> mode = state->text("colormode");
    if (mode == "ct") {
        const auto ct = wholeNumberFrom(state->find("ct"));
        if (ct && *ct > 0 && *ct <= 1000)
            read.shown.mired = static_cast<int>(*ct);
    } else if (const std::optional<std::string> xy = state->text("xy")) {
        read.shown.chromaticity = chromaticityFrom(*xy);
    }
    return read;
}

} // namespace glowcast
