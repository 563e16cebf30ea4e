#pragma once

#include "adapters/homeassistant/home_assistant_states.h"
#include "adapters/http/json_http_client.h"
#include "adapters/qt/later_calls.h"
#include "core/lamp_systems/lamp_system.h"
#include "core/ports/log.h"

#include <QObject>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace glowcast {

// Lamps kept by Home Assistant, over its REST interface with a long-lived access token. The lamps are
// the light entities of GET /api/states; a lamp is sent light.turn_on (or put back with light.turn_off)
// as POST /api/services/light/<service>, read back with GET /api/states/<entity_id>. A 401 or 403 makes
// the system refused: nothing is asked again until a new token comes with a new adapter. Without the
// switch-on setting a light last read as off is left off. Answers come from the event loop, never
// inside a call; the token goes only into the Authorization header field.
class HomeAssistantSystem final : public LampSystem {
public:
    struct Options {
        std::string systemId;
        std::string baseAddress; // "http://host:8123"
        std::optional<std::string> token;
        std::optional<std::filesystem::path> caFile;
        std::chrono::milliseconds timeout{5'000};
        std::size_t maxStatesBytes = std::size_t{16} << 20; // thousands of entities of every domain fit
        std::size_t maxStateBytes = std::size_t{64} << 10;
    };

    HomeAssistantSystem(Options options, Log& log);
    ~HomeAssistantSystem() override;
    HomeAssistantSystem(const HomeAssistantSystem&) = delete;
    HomeAssistantSystem& operator=(const HomeAssistantSystem&) = delete;

    void start() override;
    void refresh() override;
    void send(std::vector<LampStateCommand> commands, std::function<void(SendResult)> done) override;
    void readState(const std::string& key, std::function<void(std::optional<ReadLampState>)> done) override;
    void restore(const std::string& key, const ReadLampState& state, std::function<void(SendResult)> done) override;
    void stop() override;

private:
    [[nodiscard]] JsonHttpCall callOf(HttpMethod method, std::string path, std::string body, std::size_t cap) const;
    void readStates();
    void callService(const std::string& service, std::string data, std::function<void(SendResult)> done);
    // True when the answer says the token is refused; the system is then refused for good.
    bool refusedBy(const HttpOutcome& result);
    [[nodiscard]] HomeAssistantLight* lightWithKey(const std::string& key);
    void log(const std::string& line);

    Options m_options;
    Log& m_log;
    JsonHttpClient m_http;
    QObject m_context;
    LaterCalls m_later{m_context}; // answers told from the event loop; a stop drops those still waiting
    std::vector<HomeAssistantLight> m_lights;
    bool m_refused = false;
};

// "scheme://host:port" from "http(s)://HOST[:PORT]" (port 8123 when left out); nothing for another
// scheme, user information, a path, a query or a fragment.
[[nodiscard]] std::optional<std::string> homeAssistantBaseAddress(const std::string& address);

// The system for a record of kind homeassistant: its token from systems/ID.token and its pinned CA from
// systems/ID.ca.pem, when there is one. Nothing, with a log line, for an address that is no Home
// Assistant address.
[[nodiscard]] std::unique_ptr<LampSystem>
makeHomeAssistantSystem(const SystemRecord& record, const std::filesystem::path& configDirectory, Log& log);

} // namespace glowcast
