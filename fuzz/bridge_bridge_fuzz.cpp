// Runs the bridge client against a bridge and a portal that answer with arbitrary text: the input
// is cut at NUL bytes into the stored address, the stored user name, a lamp id and the replies, in
// that order (a reply starting with "!" stands for no reply). Whatever comes back, the client must
// neither crash nor send a request to a URL with a space, a control character, "#" or "?" in it, nor
// one whose path a URL layer would change (an empty, "." or ".." segment, an escape it would
// rewrite), and must never store an empty user name or an address with more than a host and port.
// Each reply is also read as a lamp list: every id kept must stand as one such segment.
#include "../tests/fakes/fake_http_transport.h"
#include "../tests/fakes/fake_platform.h"
#include "../tests/fakes/fake_preferences.h"
#include "../tests/fakes/recording_log.h"
#include "core/bridge_bridge.h"
#include "core/lamp_list.h"

#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

// Whether a path segment reaches the bridge as it is: not empty, not a dot segment, and no escape
// that URL layers rewrite (of an unreserved character, or in lower-case hex). Written apart from
// the client's own check, so that each checks the other.
bool sentAsBuilt(std::string_view segment)
{
    if (segment.empty() || segment == "." || segment == "..")
        return false;
    for (std::size_t at = segment.find('%'); at != std::string_view::npos; at = segment.find('%', at + 1)) {
        if (at + 2 >= segment.size())
            return false;
        const std::string_view hex = segment.substr(at + 1, 2);
        unsigned value = 0;
        if (hex.find_first_not_of("0123456789ABCDEF") != std::string_view::npos ||
            std::from_chars(hex.data(), hex.data() + 2, value, 16).ec != std::errc{})
            return false;
        const char c = static_cast<char>(value);
        if (std::isalnum(static_cast<unsigned char>(c)) != 0 ||
            std::string_view("-._~").find(c) != std::string_view::npos)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace glowcast;
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < size && parts.size() < 40; ++i) {
        if (data[i] == 0)
            parts.emplace_back();
        else
            parts.back().push_back(static_cast<char>(data[i]));
    }
    parts.resize(std::max<std::size_t>(parts.size(), 3));

    RecordingLog log;
    FakeHttpTransport http;
    FakePreferences preferences;
    ManualSleeper sleeper;
    FakePushButtonWindow window;
    FakeAlert alert;
    if (!parts[0].empty())
        preferences.texts["lastusedbridgeIP"] = parts[0];
    if (!parts[1].empty())
        preferences.texts["username"] = parts[1];
    for (auto reply = parts.begin() + 3; reply != parts.end(); ++reply)
        http.replies.push_back(reply->starts_with('!') ? std::nullopt : std::optional<std::string>{*reply});

    BridgeBridge bridge{http, preferences, sleeper, log, window, alert, std::string{"portal.test"}};
    (void)bridge.sendGETRequestToUrl("lights");
    (void)bridge.sendPUTRequest(Dictionary{{"bri", 200}, {"xy", "[0.412,0.377]"}}, "lights/" + parts[2] + "/state");
    (void)bridge.sendPOSTRequest(Dictionary{{"name", parts[2]}}, "groups");
    (void)bridge.sendDELETERequestToUrl("groups/" + parts[2]);
    (void)bridge.logIn();

    for (const HttpRequest& request : http.sent) {
        for (const char c : request.url)
            if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7f || c == '#' || c == '?')
                std::abort();
        const std::size_t path = request.url.find('/', 7);
        if (!request.url.starts_with("http://") || path == std::string::npos)
            std::abort();
        for (std::size_t start = path + 1;;) {
            const std::size_t slash = request.url.find('/', start);
            if (!sentAsBuilt(std::string_view(request.url).substr(start, slash - start)))
                std::abort();
            if (slash == std::string::npos)
                break;
            start = slash + 1;
        }
    }
    if (const std::optional<std::string> name = preferences.text("username");
        name && *name != parts[1] && (!sentAsBuilt(*name) || name->find('/') != std::string::npos))
        std::abort();
    if (const std::optional<std::string> address = preferences.text("lastusedbridgeIP");
        address && *address != parts[0] && address->find_first_of("@/?#% \r\n") != std::string::npos)
        std::abort();

    for (auto reply = parts.begin() + 3; reply != parts.end(); ++reply) {
        const std::optional<std::vector<LampEntry>> lamps = lampsFromLightsReply(*reply, log);
        if (lamps && lamps->size() > kMostLamps)
            std::abort();
        for (const LampEntry& lamp : lamps.value_or(std::vector<LampEntry>{}))
            if (!sentAsBuilt(lamp.id) || lamp.id.find('/') != std::string::npos || lamp.id.size() > kLongestLampId)
                std::abort();
    }
    return 0;
}
