#include "adapters/mqtt/mqtt_client.h"

#include "adapters/mqtt/mosquitto_library.h"

#include <mqtt_protocol.h>

#include <QHostAddress>
#include <QHostInfo>
#include <QMetaObject>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

namespace glowcast {

namespace {

constexpr unsigned kReconnectDelaySeconds = 1;
constexpr unsigned kReconnectDelayMaxSeconds = 30;
// What a message costs while it waits beyond its payload and topic: the invocation that carries it.
constexpr std::size_t kWaitingOverhead = 256;
// Room in a packet beside its payload: the topic and the header (our topics are short).
constexpr std::size_t kHeaderBytes = 1'024;
// Topics asked for in one SUBSCRIBE or UNSUBSCRIBE packet: a device list of thousands of lamps costs a few
// dozen packets, none near a broker's limit.
constexpr std::size_t kTopicsPerPacket = 256;

// Null library: none was opened (a publish before the client started, or without the library).
std::string errorText(const MosquittoLibrary* library, int result)
{
    if (result == MOSQ_ERR_ERRNO)
        return std::strerror(errno);
    return library ? library->strerror(result) : "no MQTT library";
}

// Keeps the last line written, to be said once in a line of the client's.
class LastLine final : public Log {
public:
    void write(std::string_view line) override { text = line; }
    std::string text;
};

// Subscribes to or unsubscribes from the topics, in packets of kTopicsPerPacket; the library's result of
// the first that failed.
int inPackets(const MosquittoLibrary& library, mosquitto* client, const std::vector<std::string>& topics,
              bool subscribe)
{
    std::vector<char*> names;
    for (std::size_t start = 0; start < topics.size(); start += kTopicsPerPacket) {
        names.clear();
        for (std::size_t i = start; i < std::min(topics.size(), start + kTopicsPerPacket); ++i)
            names.push_back(const_cast<char*>(topics[i].c_str())); // the library reads them only
        const int count = static_cast<int>(names.size());
        const int result = subscribe ? library.subscribeMultiple(client, nullptr, count, names.data(), 0, 0, nullptr)
                                     : library.unsubscribeMultiple(client, nullptr, count, names.data(), nullptr);
        if (result != MOSQ_ERR_SUCCESS)
            return result;
    }
    return MOSQ_ERR_SUCCESS;
}

} // namespace

MqttClient::MqttClient(Options options, Log& log)
    : m_options(std::move(options)), m_log(log),
      m_guard(
          m_options.maxPayloadBytes + kHeaderBytes,
          [this](std::string why) {
              std::lock_guard lock(m_waitingLock);
              m_guardFailure = std::move(why);
          },
          [this](MqttFrames::Dropped dropped) {
              if (!reserve(kWaitingOverhead))
                  return;
              const std::string line = "dropped a message of " + std::to_string(dropped.bytes) + " bytes on " +
                                       dropped.topic + ": over the cap of " + std::to_string(m_options.maxPayloadBytes);
              QMetaObject::invokeMethod(
                  this,
                  [this, line] {
                      release(kWaitingOverhead);
                      if (m_running)
                          this->log(line);
                  },
                  Qt::QueuedConnection);
          })
{
    m_lookupAgain.setSingleShot(true);
    QObject::connect(&m_lookupAgain, &QTimer::timeout, this, [this] {
        if (m_running)
            lookUp();
    });
}

MqttClient::~MqttClient()
{
    stop();
}

void MqttClient::log(const std::string& line)
{
    m_log.write(m_options.logPrefix + line);
}

std::optional<std::string> MqttClient::start()
{
    if (m_client)
        return std::nullopt;
    LastLine why;
    m_library = MosquittoLibrary::get(why);
    if (!m_library)
        return failedToStart("cannot connect to a broker: " + why.text);
    m_client = m_library->create(m_options.clientId.empty() ? nullptr : m_options.clientId.c_str(), true, this);
    if (!m_client)
        return failedToStart("cannot set up an MQTT client");
    m_library->connectCallbackSet(m_client, &MqttClient::connectCallback);
    m_library->disconnectCallbackSet(m_client, &MqttClient::disconnectCallback);
    m_library->messageCallbackSet(m_client, &MqttClient::messageCallback);
    m_library->reconnectDelaySet(m_client, kReconnectDelaySeconds, kReconnectDelayMaxSeconds, true);
    if (const int result = m_library->intOption(m_client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
        result != MOSQ_ERR_SUCCESS)
        return failedToStart("cannot speak MQTT 5: " + errorText(m_library, result));
    // The broker is told the largest packet we take (the payload cap and kHeaderBytes), so it drops a larger
    // message instead of sending it. libmosquitto 2.0 has no asynchronous connect that takes MQTT 5 properties:
    // a connect without a host keeps them for the asynchronous connect and every reconnect, and fails at once
    // without touching the network.
    mosquitto_property* properties = nullptr;
    m_library->propertyAddInt32(&properties, MQTT_PROP_MAXIMUM_PACKET_SIZE,
                                static_cast<std::uint32_t>(std::min<std::size_t>(
                                    m_options.maxPayloadBytes + kHeaderBytes, std::size_t{0x0fff'ffff})));
    (void)m_library->connectBindV5(m_client, nullptr, m_options.port, m_options.keepAliveSeconds, nullptr, properties);
    m_library->propertyFreeAll(&properties);
    // The library leaves out a user (and so the password) it does not take, and the connection would be
    // anonymous: that is no connection of this system's.
    if (m_options.user)
        if (const int result = m_library->usernamePwSet(m_client, m_options.user->c_str(),
                                                        m_options.password ? m_options.password->c_str() : nullptr);
            result != MOSQ_ERR_SUCCESS)
            return failedToStart("the user cannot be sent to a broker: " + errorText(m_library, result));
    if (m_options.will)
        if (const int result = m_library->willSet(m_client, m_options.will->first.c_str(),
                                                  static_cast<int>(m_options.will->second.size()),
                                                  m_options.will->second.data(), 0, true);
            result != MOSQ_ERR_SUCCESS)
            return failedToStart("the last will cannot be sent to a broker: " + errorText(m_library, result));
    if (std::optional<std::string> guard = m_guard.start())
        return failedToStart(*guard);
    m_running = true;
    if (!m_options.decoders.empty()) {
        m_decodingStopped = false;
        m_decoding = std::thread(&MqttClient::decodeNewest, this);
    }
    m_lookupDelaySeconds = kReconnectDelaySeconds;
    if (QHostAddress numeric; numeric.setAddress(QString::fromStdString(m_options.host)))
        return connectTo(m_options.host) ? std::nullopt : std::optional<std::string>("no MQTT network thread");
    lookUp();
    return std::nullopt;
}

std::optional<std::string> MqttClient::failedToStart(const std::string& reason)
{
    log(reason);
    if (m_client)
        m_library->destroy(std::exchange(m_client, nullptr));
    return reason;
}

void MqttClient::lookUp()
{
    // The context of the previous lookup, which has answered, goes with it.
    m_lookup = std::make_unique<QObject>();
    QHostInfo::lookupHost(QString::fromStdString(m_options.host), m_lookup.get(), [this](const QHostInfo& info) {
        if (!m_running)
            return;
        const QList<QHostAddress> addresses = info.addresses();
        if (info.error() != QHostInfo::NoError || addresses.isEmpty()) {
            const std::string reason = "the name does not resolve: " + info.errorString().toStdString();
            if (!m_loggedDown)
                log("cannot connect to the broker at " + m_options.host + ":" + std::to_string(m_options.port) + ": " +
                    reason);
            m_loggedDown = true;
            m_lookupAgain.start(std::chrono::seconds(m_lookupDelaySeconds));
            m_lookupDelaySeconds = std::min(m_lookupDelaySeconds * 2, kReconnectDelayMaxSeconds);
            if (onDisconnected)
                onDisconnected(reason, false);
            return;
        }
        // An IPv4 address first: a broker on a name that has both often listens on IPv4 only.
        const auto ipv4 = std::ranges::find(addresses, QAbstractSocket::IPv4Protocol, &QHostAddress::protocol);
        connectTo((ipv4 != addresses.end() ? *ipv4 : addresses.front()).toString().toStdString());
    });
}

bool MqttClient::connectTo(const std::string& address)
{
    // The network loop reconnects after a lost connection by itself, to this address: the name is not
    // looked up again then (taking the reconnects over from the loop for a fresh lookup is not worth it).
    // The library connects to the guard (a Unix socket: port 0), which connects to the broker; a broker that
    // cannot be reached ends that connection, which the network loop tries again like a lost one.
    m_guard.relayTo(address, m_options.port);
    const int result = m_library->connectAsync(m_client, m_guard.path().c_str(), 0, m_options.keepAliveSeconds);
    if (result != MOSQ_ERR_SUCCESS) {
        log("cannot connect to the broker at " + m_options.host + ":" + std::to_string(m_options.port) + ": " +
            errorText(m_library, result));
        m_loggedDown = true;
    }
    if (const int loop = m_library->loopStart(m_client); loop != MOSQ_ERR_SUCCESS) {
        log("cannot start the MQTT network thread: " + errorText(m_library, loop));
        stop();
        return false;
    }
    return true;
}

void MqttClient::stop()
{
    if (!m_client)
        return;
    m_running = false;
    m_lookupAgain.stop();
    m_lookup.reset();
    // What was published last may still wait in the network thread's queue, and a broker message that
    // comes once the disconnect is asked for makes the library close the connection without writing
    // it. So the queue is written first: for at most a second, then the connection goes regardless.
    if (m_connected) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (m_library->wantWrite(m_client) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    m_connected = false;
    m_library->disconnect(m_client);
    // The loop leaves its back-off wait at once when told to stop.
    m_library->loopStop(m_client, false);
    m_library->destroy(m_client);
    m_client = nullptr;
    // The library's socket is closed: the guard passes on what it still holds and ends.
    m_guard.stop();
    stopDecoding();
}

void MqttClient::stopDecoding()
{
    {
        std::lock_guard lock(m_waitingLock);
        m_decodingStopped = true;
    }
    m_decodingWanted.notify_one();
    if (m_decoding.joinable())
        m_decoding.join();
    std::lock_guard lock(m_waitingLock);
    m_undecoded.clear();
    m_decoded.clear();
}

void MqttClient::subscribe(const std::string& topic)
{
    subscribe(std::vector<std::string>{topic});
}

void MqttClient::unsubscribe(const std::string& topic)
{
    unsubscribe(std::vector<std::string>{topic});
}

void MqttClient::subscribe(const std::vector<std::string>& topics)
{
    std::vector<std::string> fresh;
    for (const std::string& topic : topics)
        if (m_topics.insert(topic).second)
            fresh.push_back(topic);
    if (m_connected && !fresh.empty())
        if (const int result = inPackets(*m_library, m_client, fresh, true); result != MOSQ_ERR_SUCCESS)
            log("cannot subscribe: " + errorText(m_library, result));
}

void MqttClient::unsubscribe(const std::vector<std::string>& topics)
{
    std::vector<std::string> gone;
    for (const std::string& topic : topics)
        if (m_topics.erase(topic) > 0)
            gone.push_back(topic);
    if (m_connected && !gone.empty())
        if (const int result = inPackets(*m_library, m_client, gone, false); result != MOSQ_ERR_SUCCESS)
            log("cannot unsubscribe: " + errorText(m_library, result));
}

bool MqttClient::publish(const std::string& topic, const std::string& payload, bool retain)
{
    const int result = m_connected ? m_library->publish(m_client, nullptr, topic.c_str(),
                                                        static_cast<int>(payload.size()), payload.data(), 0, retain)
                                   : MOSQ_ERR_NO_CONN;
    if (result != MOSQ_ERR_SUCCESS)
        log("not sent to " + topic + ": " + errorText(m_library, result));
    return result == MOSQ_ERR_SUCCESS;
}

void MqttClient::connectCallback(mosquitto* /*client*/, void* self, int result)
{
    auto* me = static_cast<MqttClient*>(self);
    QMetaObject::invokeMethod(
        me, [me, result] { me->connectedNow(result); }, Qt::QueuedConnection);
}

void MqttClient::disconnectCallback(mosquitto* /*client*/, void* self, int result)
{
    auto* me = static_cast<MqttClient*>(self);
    // errno belongs to this thread: the reason is read here. The guard knows better why the broker's end went.
    std::string reason;
    {
        std::lock_guard lock(me->m_waitingLock);
        reason = std::exchange(me->m_guardFailure, {});
    }
    if (reason.empty())
        reason = errorText(me->m_library, result);
    QMetaObject::invokeMethod(
        me, [me, reason = std::move(reason)] { me->disconnectedNow(reason); }, Qt::QueuedConnection);
}

void MqttClient::messageCallback(mosquitto* /*client*/, void* self, const mosquitto_message* message)
{
    auto* me = static_cast<MqttClient*>(self);
    std::string topic = message->topic ? message->topic : "";
    if (message->payloadlen < 0 || static_cast<std::size_t>(message->payloadlen) > me->m_options.maxPayloadBytes) {
        if (!me->reserve(kWaitingOverhead))
            return;
        const std::string line = "dropped a message of " + std::to_string(message->payloadlen) + " bytes on " + topic +
                                 ": over the cap of " + std::to_string(me->m_options.maxPayloadBytes);
        QMetaObject::invokeMethod(
            me,
            [me, line] {
                me->release(kWaitingOverhead);
                if (me->m_running)
                    me->log(line);
            },
            Qt::QueuedConnection);
        return;
    }
    me->handOver(std::move(topic), QByteArray(static_cast<const char*>(message->payload), message->payloadlen));
}

void MqttClient::handOver(std::string topic, QByteArray payload)
{
    if (m_options.decoders.contains(topic)) {
        {
            std::lock_guard lock(m_waitingLock);
            m_undecoded.insert_or_assign(std::move(topic), std::move(payload));
        }
        m_decodingWanted.notify_one();
        return;
    }
    if (m_options.newestOnly.contains(topic)) {
        std::lock_guard lock(m_waitingLock);
        const auto [place, added] = m_newest.insert_or_assign(topic, std::move(payload));
        // One handing over takes whatever is newest when it runs.
        if (added)
            QMetaObject::invokeMethod(
                this, [this, topic = std::move(topic)] { deliverNewest(topic); }, Qt::QueuedConnection);
        return;
    }
    const std::size_t bytes = static_cast<std::size_t>(payload.size()) + topic.size() + kWaitingOverhead;
    if (!reserve(bytes))
        return;
    QMetaObject::invokeMethod(
        this,
        [this, bytes, topic = std::move(topic), payload = std::move(payload)] {
            release(bytes);
            if (m_running && onMessage)
                onMessage(topic, payload);
        },
        Qt::QueuedConnection);
}

bool MqttClient::reserve(std::size_t bytes)
{
    std::lock_guard lock(m_waitingLock);
    if (m_waitingBytes + bytes > 2 * m_options.maxPayloadBytes + kWaitingOverhead) {
        ++m_droppedMessages;
        return false;
    }
    m_waitingBytes += bytes;
    return true;
}

void MqttClient::release(std::size_t bytes)
{
    std::size_t dropped = 0;
    {
        std::lock_guard lock(m_waitingLock);
        m_waitingBytes -= bytes;
        dropped = std::exchange(m_droppedMessages, 0);
    }
    // Something waited whenever one was dropped, so its handing over tells of it.
    if (dropped > 0 && m_running)
        log("dropped " + std::to_string(dropped) + " message(s): more came than Glowcast could take");
}

void MqttClient::deliverNewest(const std::string& topic)
{
    QByteArray payload;
    {
        std::lock_guard lock(m_waitingLock);
        auto node = m_newest.extract(topic);
        if (node.empty())
            return;
        payload = std::move(node.mapped());
    }
    if (m_running && onMessage)
        onMessage(topic, payload);
}

void MqttClient::decodeNewest()
{
    std::unique_lock lock(m_waitingLock);
    while (true) {
        m_decodingWanted.wait(lock, [this] { return m_decodingStopped || !m_undecoded.empty(); });
        if (m_decodingStopped)
            return;
        auto message = m_undecoded.extract(m_undecoded.begin());
        lock.unlock();
        std::any decoded = m_options.decoders.at(message.key())(message.mapped());
        message.mapped() = QByteArray(); // the text goes before the next one is waited for
        lock.lock();
        const auto [place, added] = m_decoded.insert_or_assign(message.key(), std::move(decoded));
        // One handing over takes whatever is decoded last when it runs.
        if (added)
            QMetaObject::invokeMethod(
                this, [this, topic = message.key()] { deliverDecoded(topic); }, Qt::QueuedConnection);
    }
}

void MqttClient::deliverDecoded(const std::string& topic)
{
    std::any decoded;
    {
        std::lock_guard lock(m_waitingLock);
        auto node = m_decoded.extract(topic);
        if (node.empty())
            return;
        decoded = std::move(node.mapped());
    }
    if (m_running && onDecoded)
        onDecoded(topic, std::move(decoded));
}

void MqttClient::connectedNow(int result)
{
    if (!m_running)
        return;
    if (result != 0) {
        m_connected = false;
        const std::string reason = m_library->reasonString(result);
        if (!m_loggedDown)
            log("the broker at " + m_options.host + ":" + std::to_string(m_options.port) +
                " refused the connection: " + reason);
        m_loggedDown = true;
        m_refusal = reason;
        if (onDisconnected)
            onDisconnected(reason, true);
        return;
    }
    m_refusal.reset();
    m_connected = true;
    m_loggedDown = false;
    log("connected to the broker at " + m_options.host + ":" + std::to_string(m_options.port));
    if (const int subscribed = inPackets(*m_library, m_client, {m_topics.begin(), m_topics.end()}, true);
        subscribed != MOSQ_ERR_SUCCESS)
        log("cannot subscribe: " + errorText(m_library, subscribed));
    if (onConnected)
        onConnected();
}

void MqttClient::disconnectedNow(const std::string& reason)
{
    if (!m_running)
        return;
    if (!m_loggedDown)
        log(std::string(std::exchange(m_connected, false) ? "lost the broker at "
                                                          : "cannot connect to the broker at ") +
            m_options.host + ":" + std::to_string(m_options.port) + ": " + reason);
    m_connected = false;
    m_loggedDown = true;
    // The broker closes the connection it refused: that stays a refusal.
    if (onDisconnected)
        onDisconnected(m_refusal.value_or(reason), m_refusal.has_value());
}

} // namespace glowcast
