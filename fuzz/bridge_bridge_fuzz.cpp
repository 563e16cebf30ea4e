// Runs the bridge client against a bridge and a portal that answer with arbitrary text: the input
// is cut at NUL bytes into the stored address, the stored user name, a lamp id and the replies, in
// that order (a reply starting with "!" stands for no reply). Whatever comes back, the client must
// neither crash nor send a request to a URL with a space, a control character, "#" or "?" in it, nor
// one whose path a URL layer would change (an empty, "." or ".." segment, an escape it would
// rewrite), and must never store an empty user name or an address with more than a host and port.
// Each reply is also read as a lamp list: every id kept must stand as one such segment.
#include "core/bridge/bridge_bridge.h"
#include "core/bridge/lamp_list.h"
#include "fuzz_support.h"
#include "support/fake_http_transport.h"
#include "support/fake_platform.h"
#include "support/fake_preferences.h"

#include <cctype>

namespace {

// Written apart from the client's own check, so that each checks the other: a segment that would
// resolve to another resource (empty, ".", "..", also as escapes) or that a URL layer would rewrite.
bool reachesAnotherResource(std::string segment)
{
    for (std::size_t at = 0; (at = segment.find('%', at)) != std::string::npos; ++at)
        if (segment.size() < at + 3 || segment.compare(at + 1, 2, "2E") == 0 ||
            std::islower(static_cast<unsigned char>(segment[at + 1])) != 0 ||
            std::islower(static_cast<unsigned char>(segment[at + 2])) != 0)
            return true;
    return segment.empty() || segment == "." || segment == ".." || segment.find('/') != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace glowcast;
    using fuzz::require;
    const std::vector<std::string> parts = fuzz::partsOf(data, size, 3);

    RecordingLog log;
    FakeHttpTransport http;
    FakePreferences preferences;
    ManualSleeper sleeper;
    FakeLinkButtonPrompt window;
    FakeAlert alert;
    for (const auto& [key, part] : {std::pair{"lastusedbridgeIP", parts[0]}, std::pair{"username", parts[1]}})
        preferences.setText(key, part.empty() ? std::nullopt : std::optional{part});
    for (auto reply = parts.begin() + 3; reply != parts.end(); ++reply) {
        http.replies.push_back(reply->starts_with('!') ? std::nullopt : std::optional<std::string>{*reply});
        for (const LampEntry& lamp : lampsFromLightsReply(*reply, log).value_or(std::vector<LampEntry>{}))
            require(!reachesAnotherResource(lamp.id) && lamp.id.size() <= kLongestLampId);
    }

    BridgeBridge bridge{http, preferences, sleeper, log, window, alert, std::string{"portal.test"}};
    (void)bridge.read("lights");
    (void)bridge.sendPUTRequest(Dictionary{{"bri", 200}, {"xy", "[0.412,0.377]"}}, "lights/" + parts[2] + "/state");
    (void)bridge.sendPOSTRequest(Dictionary{{"name", parts[2]}}, "groups");
    (void)bridge.sendDELETERequestToUrl("groups/" + parts[2]);
    (void)bridge.pair();

    for (const HttpRequest& request : http.sent) {
        for (const char c : request.url)
            require(static_cast<unsigned char>(c) > 0x20 && static_cast<unsigned char>(c) < 0x7f && c != '#' &&
                    c != '?');
        const std::size_t path = request.url.find('/', 7);
        for (std::size_t start = path + 1, slash = 0; path != std::string::npos && slash != std::string::npos;
             start = slash + 1)
            require(!reachesAnotherResource(request.url.substr(start, (slash = request.url.find('/', start)) - start)));
    }
    const std::string name = preferences.text("username").value_or(parts[1]);
    require(name == parts[1] || !reachesAnotherResource(name));
    const std::string address = preferences.text("lastusedbridgeIP").value_or(parts[0]);
    require(address == parts[0] || address.find_first_of("@/?#% \r\n") == std::string::npos);
    return 0;
}
