// Runs the bridge client against a bridge and a portal that answer with arbitrary text: the input
// is cut at NUL bytes into the stored address, the stored user name, a lamp id and the replies, in
// that order. Whatever comes back, the client must neither crash nor send a request to a URL with
// a space, a control character, "#" or "?" in it, and must never store an empty user name.
#include "core/bridge_bridge.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace glowcast;

class DiscardingLog final : public Log {
public:
    void write(std::string_view /*line*/) override {}
};

class ScriptedHttp final : public HttpTransport {
public:
    std::deque<std::string> replies;
    std::optional<std::string> send(const HttpRequest& request) override
    {
        for (const char c : request.url) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte <= 0x20 || byte >= 0x7f || c == '#' || c == '?')
                std::abort();
        }
        if (replies.empty())
            return std::nullopt;
        std::string next = std::move(replies.front());
        replies.pop_front();
        // A reply that starts with "!" stands for no reply at all.
        if (!next.empty() && next.front() == '!')
            return std::nullopt;
        return next;
    }
};

class MapPreferences final : public Preferences {
public:
    std::map<std::string, std::string, std::less<>> texts;
    std::optional<std::string> text(std::string_view key) const override
    {
        const auto found = texts.find(key);
        return found == texts.end() ? std::nullopt : std::optional<std::string>{found->second};
    }
    void setText(std::string_view key, std::optional<std::string> value) override
    {
        if (key == "username" && value && value->empty())
            std::abort();
        if (value)
            texts.insert_or_assign(std::string{key}, *value);
        else
            texts.erase(std::string{key});
    }
    std::optional<std::vector<LampEntry>> lamps() const override { return std::nullopt; }
    void setLamps(const std::vector<LampEntry>&) override {}
};

class NoSleep final : public Sleeper {
public:
    void sleep(std::chrono::milliseconds) override {}
};

class NoWindow final : public PushButtonWindow {
public:
    void show() override {}
    void bringToFront() override {}
    void hide() override {}
};

class NoAlert final : public Alert {
public:
    void runModal(const AlertText&) override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= input.size() && parts.size() < 40) {
        const std::size_t end = std::min(input.find('\0', start), input.size());
        parts.emplace_back(input.substr(start, end - start));
        start = end + 1;
    }
    while (parts.size() < 3)
        parts.emplace_back();

    DiscardingLog log;
    ScriptedHttp http;
    MapPreferences preferences;
    NoSleep sleeper;
    NoWindow window;
    NoAlert alert;
    if (!parts[0].empty())
        preferences.texts["lastusedbridgeIP"] = parts[0];
    if (!parts[1].empty())
        preferences.texts["username"] = parts[1];
    http.replies.assign(parts.begin() + 3, parts.end());

    BridgeBridge bridge{http, preferences, sleeper, log, window, alert, std::string{"portal.test"}};
    (void)bridge.sendGETRequestToUrl("lights");
    (void)bridge.sendPUTRequest(Dictionary{{"bri", 200}, {"xy", "[0.412,0.377]"}}, "lights/" + parts[2] + "/state");
    (void)bridge.sendPOSTRequest(Dictionary{{"name", parts[2]}}, "groups");
    (void)bridge.sendDELETERequestToUrl("groups/" + parts[2]);
    (void)bridge.logIn();
    return 0;
}
