#include "adapters/mqtt/home_assistant_publisher.h"

#include <QCoreApplication>

#include <utility>
#include <variant>

namespace glowcast {

namespace {

// Commands are words; the palette's document is the largest message, and none comes in.
constexpr std::size_t kLargestCommand = 4'096;

MqttClient::Options clientOptions(const HomeAssistantPublisher::Options& options, const PublishedTopics& topics)
{
    MqttClient::Options client;
    client.host = options.broker.host;
    client.port = options.broker.port;
    // The node id tells the computer, the process id the session: a second Glowcast elsewhere, or the
    // zigbee2mqtt systems' clients, never take this one's place on the broker.
    client.clientId = options.nodeId + "-" + std::to_string(QCoreApplication::applicationPid());
    client.user = options.user;
    client.password = options.password;
    client.maxPayloadBytes = kLargestCommand;
    client.will = std::pair{topics.status, std::string{"offline"}};
    client.logPrefix = "mqtt: ";
    return client;
}

} // namespace

HomeAssistantPublisher::HomeAssistantPublisher(Options options, Log& log)
    : m_options(std::move(options)), m_log(log), m_topics(m_options.broker.baseTopic),
      m_client(clientOptions(m_options, m_topics), log)
{
    m_client.onConnected = [this] { connected(); };
    m_client.onMessage = [this](const std::string& topic, const QByteArray& payload) {
        auto command = homeAssistantCommand(m_topics, topic, payload.toStdString());
        if (const std::string* refusal = std::get_if<std::string>(&command))
            m_log.write(*refusal);
        else if (onCommand)
            onCommand(std::get<HomeAssistantCommand>(command));
    };
    m_client.subscribe(m_topics.commandTopics());
}

HomeAssistantPublisher::~HomeAssistantPublisher()
{
    stop();
}

void HomeAssistantPublisher::start()
{
    (void)m_client.start(); // a client that cannot be set up has said why
}

void HomeAssistantPublisher::publish(const std::string& topic, const std::string& payload)
{
    if (m_client.connected())
        m_client.publish(topic, payload, true);
}

std::vector<MqttMessage> HomeAssistantPublisher::configs() const
{
    return discoveryConfigs(
        {m_options.broker.baseTopic, m_options.discoveryPrefix, m_options.nodeId, m_options.hostName});
}

void HomeAssistantPublisher::connected()
{
    publish(m_topics.status, "online");
    for (const MqttMessage& config : configs())
        publish(config.topic, config.payload);
    for (const auto& [topic, payload] : m_states)
        publish(topic, payload);
    m_log.write("mqtt: Home Assistant finds Glowcast as " + m_options.nodeId + " under " + m_options.discoveryPrefix +
                "/, its palette on " + m_topics.palette);
}

void HomeAssistantPublisher::keep(const std::string& topic, const std::string& payload)
{
    m_states[topic] = payload;
    publish(topic, payload);
}

void HomeAssistantPublisher::setFollowing(bool following)
{
    keep(m_topics.following, switchState(following));
}

void HomeAssistantPublisher::setPaletteName(const std::string& name)
{
    keep(m_topics.paletteName, name);
}

void HomeAssistantPublisher::setPinned(bool pinned)
{
    keep(m_topics.pinned, switchState(pinned));
}

void HomeAssistantPublisher::setPalette(const std::string& document)
{
    keep(m_topics.palette, document);
}

void HomeAssistantPublisher::stop()
{
    publish(m_topics.status, "offline");
    m_client.stop();
}

void HomeAssistantPublisher::withdraw()
{
    if (!m_client.connected())
        m_log.write("mqtt: the broker is away: Home Assistant's discovery configs for " + m_options.nodeId +
                    " stay on it");
    for (const MqttMessage& config : configs())
        publish(config.topic, {});
    stop();
}

} // namespace glowcast
