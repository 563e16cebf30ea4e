#pragma once

#include "adapters/mqtt/mqtt_client.h"
#include "core/ports/log.h"
#include "core/publishing/home_assistant_discovery.h"
#include "core/text/mqtt_address.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace glowcast {

// Glowcast on a broker of the user's, for Home Assistant and scripts: the topics PublishedTopics names and
// Home Assistant's discovery configs, all retained and published again on every connection, with
// BASE/status "offline" as the last will. It only keeps what the program tells it and passes the commands
// on; what a command does is the caller's. While the broker is away nothing is published and nothing is
// logged but the client's one line per outage: the lamps go on as before.
class HomeAssistantPublisher final {
public:
    struct Options {
        MqttAddress broker; // its base topic is Glowcast's
        std::string discoveryPrefix;
        std::optional<std::string> user;
        std::optional<std::string> password;
        std::string nodeId;
        std::string hostName;
    };

    HomeAssistantPublisher(Options options, Log& log);
    ~HomeAssistantPublisher();
    HomeAssistantPublisher(const HomeAssistantPublisher&) = delete;
    HomeAssistantPublisher& operator=(const HomeAssistantPublisher&) = delete;

    void start();
    // The states, published at once while connected and on every connection.
    void setFollowing(bool following);
    void setPaletteName(const std::string& name);
    void setPinned(bool pinned);
    void setPalette(const std::string& document);
    // Publishes "offline" and says goodbye to the broker (within a second).
    void stop();
    // The same after removing the discovery configs (empty retained payloads), so that Home Assistant
    // forgets the device. A broker that is away keeps them: a log line says so.
    void withdraw();

    [[nodiscard]] const Options& options() const { return m_options; }
    // A command from Home Assistant; a payload that is not one of the options is logged and goes nowhere.
    std::function<void(const HomeAssistantCommand& command)> onCommand;

private:
    void publish(const std::string& topic, const std::string& payload);
    void connected();
    [[nodiscard]] std::vector<MqttMessage> configs() const;
    void keep(const std::string& topic, const std::string& payload);

    Options m_options;
    Log& m_log;
    PublishedTopics m_topics;
    MqttClient m_client;
    // The state topics' payloads as last set: published as they change and again on every connection.
    std::map<std::string, std::string> m_states;
};

} // namespace glowcast
