#include "core/bridge/lamp_list.h"

#include "core/json/json_codec.h"
#include "core/text/log_text.h"
#include "core/text/url_text.h"

#include <string>
#include <utility>

namespace glowcast {

namespace {

constexpr std::string_view kWhiteSpace = " \t\r\n";

// The first `characters` characters of a UTF-8 text, or nothing when it is no longer than that.
[[nodiscard]] std::optional<std::string> cutToCharacters(const std::string& text, std::size_t characters)
{
    std::size_t seen = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if ((static_cast<unsigned char>(text[at]) & 0xC0) == 0x80)
            continue;
        if (seen == characters)
            return text.substr(0, at);
        ++seen;
    }
    return std::nullopt;
}

} // namespace

std::optional<std::vector<LampEntry>> lampsFromLightsReply(std::string_view reply, Log& log, Dictionary* decoded)
{
    const std::size_t first = reply.find_first_not_of(kWhiteSpace);
    if (first == std::string_view::npos || reply[first] != '{' || reply[reply.find_last_not_of(kWhiteSpace)] != '}')
        return std::nullopt;
    const Dictionary lampMap = dictionaryFromJSON(reply, log);

    std::vector<LampEntry> lamps;
    bool anyLamp = false;
    for (std::size_t i = 0; i < lampMap.size(); ++i) {
        const std::string& id = lampMap.keys()[i];
        const Dictionary* lamp = lampMap.valueAt(i).asDictionary();
        std::optional<std::string> name = lamp != nullptr ? lamp->text("name") : std::nullopt;
        // Whatever the bridge lists without a name is not a lamp the user could pick.
        if (!name) {
            log.write("lamp " + id + " has no name, left out");
            continue;
        }
        anyLamp = true;
        if (lamps.size() == kMostLamps) {
            log.write("the bridge lists more than " + std::to_string(kMostLamps) + " lamps; lamp " + id +
                      " and those after it left out");
            break;
        }
        // The id goes into every request for the lamp: one that would reach another resource, or
        // none at all, is no lamp to send to.
        if (!isUrlSegment(id) || id.size() > kLongestLampId) {
            log.write("lamp '" + printable(id) + "' has an id that cannot stand in a URL path, left out");
            continue;
        }
        if (std::optional<std::string> cut = cutToCharacters(*name, kLongestLampName)) {
            log.write("lamp " + id + " has a name longer than " + std::to_string(kLongestLampName) +
                      " characters, cut to '" + *cut + "'");
            name = std::move(cut);
        }
        lamps.push_back(LampEntry{id, std::move(*name), false});
    }
    // An object that is not empty yet holds no lamp is an error page or a reply of another kind.
    const bool empty = reply.find_first_not_of(kWhiteSpace, first + 1) == reply.find_last_not_of(kWhiteSpace);
    if (!anyLamp && !(lampMap.empty() && empty))
        return std::nullopt;
    if (decoded != nullptr)
        *decoded = lampMap;
    return lamps;
}

} // namespace glowcast
