#include "adapters/zigbee2mqtt/zigbee2mqtt_system.h"

#include "adapters/files/system_secrets.h"
#include "core/lamp_systems/system_address.h"
#include "core/text/log_text.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <any>
#include <set>

namespace glowcast {

namespace {

// Two lists that change the lamps within this are in quick succession.
constexpr std::chrono::seconds kDevicesInSuccession{5};
// While they are, the list is asked for once none came for this long; an answer that does not come within
// kDevicesInSuccession ends the asking.
constexpr std::chrono::seconds kDevicesPaused{1};

// The lines of a device list's reading, kept for the main thread.
class LinesLog final : public Log {
public:
    void write(std::string_view line) override { lines.emplace_back(line); }
    std::vector<std::string> lines;
};

MqttClient::Options clientOptions(const Zigbee2MqttSystem::Options& options,
                                  std::function<std::any(const QByteArray&)> decodeDevices)
{
    MqttClient::Options client;
    client.host = options.host;
    client.port = options.port;
    // Unique on the broker: two Glowcasts of two users may share it.
    client.clientId = "glowcast-" + options.systemId + "-" + std::to_string(QCoreApplication::applicationPid());
    client.user = options.user;
    client.password = options.password;
    client.maxPayloadBytes = options.maxPayloadBytes;
    client.logPrefix = options.systemId + ": ";
    // Each device list holds all devices: one that waits is worthless once a newer one came. Reading a list
    // of thousands takes long enough to keep queries and quitting waiting: it is read off the main thread.
    client.decoders = {{options.baseTopic + "/bridge/devices", std::move(decodeDevices)}};
    return client;
}

} // namespace

Zigbee2MqttSystem::Zigbee2MqttSystem(Options options, Log& log)
    : m_options(std::move(options)), m_log(log),
      m_client(clientOptions(m_options, [this](const QByteArray& payload) { return decodeDevices(payload); }), log)
{
    m_client.onConnected = [this] { connected(); };
    m_client.onDisconnected = [this](const std::string& reason, bool refused) { disconnected(reason, refused); };
    m_client.onMessage = [this](const std::string& topic, const QByteArray& payload) { received(topic, payload); };
    m_client.onDecoded = [this](const std::string& /*topic*/, std::any decoded) {
        m_heard = true;
        if (auto* devices = std::any_cast<DecodedDevices>(&decoded))
            takeDevices(std::move(*devices));
    };
    m_connectTimer.setSingleShot(true);
    m_askDevices.setSingleShot(true);
    QObject::connect(&m_askDevices, &QTimer::timeout, &m_context, [this] { askForDevices(); });
    QObject::connect(&m_connectTimer, &QTimer::timeout, &m_context, [this] {
        if (!m_client.connected())
            tell(SystemState::Unreachable,
                 "no answer from the broker at " + m_options.host + ":" + std::to_string(m_options.port));
        else if (!m_heard)
            tell(SystemState::Offline, "no word from zigbee2mqtt on " + topic("bridge/state"));
    });
}

Zigbee2MqttSystem::~Zigbee2MqttSystem()
{
    stop();
}

void Zigbee2MqttSystem::log(const std::string& line)
{
    m_log.write(m_options.systemId + ": " + line);
}

void Zigbee2MqttSystem::start()
{
    m_client.subscribe(topic("bridge/state"));
    m_client.subscribe(topic("bridge/devices"));
    if (std::optional<std::string> failure = m_client.start()) {
        answerLater([this, failure = std::move(*failure)] { tell(SystemState::Refused, failure); });
        return;
    }
    m_connectTimer.start(m_options.connectTimeout);
}

void Zigbee2MqttSystem::refresh()
{
    // Subscribing again brings the retained device list again, read anew even when it did not change; while
    // lists come in quick succession, the next question reads it anew.
    if (m_client.connected()) {
        m_readAnew = true;
        if (m_askingForDevices)
            return;
        m_client.unsubscribe(topic("bridge/devices"));
        m_client.subscribe(topic("bridge/devices"));
    }
}

void Zigbee2MqttSystem::stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    m_connectTimer.stop();
    m_askDevices.stop();
    m_client.stop();
    m_reads.clear();
    m_echoes.clear();
}

void Zigbee2MqttSystem::tell(SystemState state, std::string detail)
{
    if (m_state == state && m_detail == detail)
        return;
    m_state = state;
    m_detail = detail;
    tellState(state, std::move(detail));
}

void Zigbee2MqttSystem::answerLater(std::function<void()> answer)
{
    QMetaObject::invokeMethod(
        &m_context,
        [this, answer = std::move(answer)] {
            if (!m_stopped)
                answer();
        },
        Qt::QueuedConnection);
}

void Zigbee2MqttSystem::connected()
{
    // Ready again once zigbee2mqtt's retained state or device list comes: a broker that restarted has
    // neither until zigbee2mqtt is back on it, and states sent before that would reach nobody.
    m_bridgeOnline.reset();
    m_heard = false;
    m_connectTimer.start(m_options.connectTimeout);
    // The lists that were coming quickly are over for this connection: the newest comes as it subscribes.
    if (m_askingForDevices)
        takeEveryList();
}

void Zigbee2MqttSystem::disconnected(const std::string& reason, bool refused)
{
    m_connectTimer.stop();
    if (refused)
        tell(SystemState::Refused, "the broker refused the connection: " + reason);
    else
        tell(SystemState::Unreachable,
             "broker at " + m_options.host + ":" + std::to_string(m_options.port) + ": " + reason);
    for (PendingRead& read : std::exchange(m_reads, {}))
        read.done(std::nullopt);
    for (PendingEcho& echo : std::exchange(m_echoes, {}))
        echo.done(SendResult::NoAnswer);
}

void Zigbee2MqttSystem::received(const std::string& messageTopic, const QByteArray& payload)
{
    const std::string_view body(payload.constData(), static_cast<std::size_t>(payload.size()));
    if (messageTopic == topic("bridge/state")) {
        m_heard = true;
        m_bridgeOnline = readOnline(body);
        if (m_bridgeOnline == false)
            tell(SystemState::Offline, "zigbee2mqtt is offline");
        else if (m_devicesRead)
            tell(SystemState::Ready, {});
        return;
    }
    const std::string prefix = m_options.baseTopic + "/";
    if (!messageTopic.starts_with(prefix))
        return;
    std::string device = messageTopic.substr(prefix.size());
    if (device.ends_with("/availability")) {
        device.resize(device.size() - std::string_view("/availability").size());
        const bool available = readOnline(body).value_or(true);
        // A device never heard of is available: its first word changes nothing unless it says offline.
        if (std::exchange(m_available.try_emplace(device, true).first->second, available) == available)
            return;
        // Thousands of devices say so at every connect: the lamps are told once, after all that came.
        if (!std::exchange(m_lampsToTell, true))
            answerLater([this] {
                m_lampsToTell = false;
                tellLamps();
            });
        return;
    }
    // The device's state: the echo every send to it waits for, and the answer of every read that waits for
    // one of its lamps.
    m_silent.erase(device);
    for (std::size_t i = 0; i < m_echoes.size();) {
        if (m_echoes[i].devices.erase(device) == 0 || !m_echoes[i].devices.empty()) {
            ++i;
            continue;
        }
        PendingEcho echo = std::move(m_echoes[i]);
        m_echoes.erase(m_echoes.begin() + static_cast<std::ptrdiff_t>(i));
        echo.done(SendResult::Delivered);
    }
    for (std::size_t i = 0; i < m_reads.size();) {
        const Zigbee2MqttLamp* lamp = lampWithKey(m_reads[i].key);
        if (!lamp || lamp->friendlyName != device) {
            ++i;
            continue;
        }
        PendingRead read = std::move(m_reads[i]);
        m_reads.erase(m_reads.begin() + static_cast<std::ptrdiff_t>(i));
        read.done(readZigbee2MqttState(*lamp, body));
    }
}

Zigbee2MqttSystem::DecodedDevices Zigbee2MqttSystem::decodeDevices(const QByteArray& payload)
{
    if (m_readAnew.exchange(false))
        m_decodedText.reset();
    // zigbee2mqtt publishes its list again after any change of any device, most of them no change of a lamp.
    if (m_decodedText && payload == *m_decodedText)
        return {m_decodedLamps, {}};
    LinesLog lines;
    DecodedDevices devices{
        readZigbee2MqttDevices(std::string_view(payload.constData(), static_cast<std::size_t>(payload.size())), lines),
        std::move(lines.lines)};
    if (devices.lamps) {
        m_decodedText = payload;
        m_decodedLamps = *devices.lamps;
    }
    return devices;
}

void Zigbee2MqttSystem::takeDevices(DecodedDevices devices)
{
    for (const std::string& line : devices.logLines)
        m_log.write(line);
    if (!devices.lamps)
        return;
    std::vector<Zigbee2MqttLamp>& lamps = *devices.lamps;
    const bool changed = !m_devicesRead || lamps != m_lamps;
    if (m_askingForDevices) {
        m_askedForDevices = false;
        if (changed)
            m_askDevices.start(kDevicesPaused);
        else
            takeEveryList();
    } else if (changed && m_devicesRead) {
        const auto now = std::chrono::steady_clock::now();
        if (const auto before = std::exchange(m_lampsChanged, now); before && now - *before < kDevicesInSuccession) {
            log("device lists come in quick succession: the newest is asked for once they pause, until they stop");
            m_askingForDevices = true;
            m_client.unsubscribe(topic("bridge/devices"));
            m_askDevices.start(kDevicesPaused);
        }
    }
    if (changed) {
        m_lamps = std::move(lamps);
        m_devicesRead = true;
        if (!m_askingForDevices)
            subscribeDevices();
        tellLamps();
    }
    if (m_bridgeOnline != false)
        tell(SystemState::Ready, {});
}

void Zigbee2MqttSystem::askForDevices()
{
    if (std::exchange(m_askedForDevices, true)) {
        log("no device list came when asked: every list is taken as it comes");
        takeEveryList();
        return;
    }
    // The broker sends the retained list as it takes the subscription, and no other after it.
    m_client.subscribe(topic("bridge/devices"));
    m_client.unsubscribe(topic("bridge/devices"));
    m_askDevices.start(kDevicesInSuccession);
}

void Zigbee2MqttSystem::takeEveryList()
{
    m_askingForDevices = false;
    m_askedForDevices = false;
    m_askDevices.stop();
    m_client.subscribe(topic("bridge/devices"));
    subscribeDevices();
}

void Zigbee2MqttSystem::subscribeDevices()
{
    // Only the topics of devices that came or went (a rename is both): the others stay subscribed.
    std::set<std::string> names;
    for (const Zigbee2MqttLamp& lamp : m_lamps)
        names.insert(lamp.friendlyName);
    std::vector<std::string> gone;
    for (const std::string& name : m_subscribedDevices)
        if (!names.contains(name)) {
            m_available.erase(name);
            gone.push_back(topic(name));
            gone.push_back(topic(name + "/availability"));
        }
    m_client.unsubscribe(gone);
    std::vector<std::string> fresh;
    for (const std::string& name : names)
        if (!m_subscribedDevices.contains(name)) {
            fresh.push_back(topic(name));
            fresh.push_back(topic(name + "/availability"));
        }
    m_client.subscribe(fresh);
    m_subscribedDevices = std::move(names);
}

void Zigbee2MqttSystem::tellLamps()
{
    std::vector<SystemLamp> lamps;
    lamps.reserve(m_lamps.size());
    for (const Zigbee2MqttLamp& lamp : m_lamps) {
        const auto available = m_available.find(lamp.friendlyName);
        lamps.push_back({lamp.key, lamp.name, lamp.capabilities, available == m_available.end() || available->second});
    }
    if (listener())
        listener()->lampsRead(std::move(lamps));
}

const Zigbee2MqttLamp* Zigbee2MqttSystem::lampWithKey(const std::string& key) const
{
    const auto found = std::ranges::find(m_lamps, key, &Zigbee2MqttLamp::key);
    return found == m_lamps.end() ? nullptr : &*found;
}

void Zigbee2MqttSystem::send(std::vector<LampStateCommand> commands, std::function<void(SendResult)> done)
{
    if (m_bridgeOnline == false || !m_client.connected()) {
        log(std::string(m_client.connected() ? "zigbee2mqtt is offline" : "the broker is away") + ": " +
            std::to_string(commands.size()) + " lamp state(s) dropped");
        answerLater([done = std::move(done)] { done(SendResult::NoAnswer); });
        return;
    }
    bool sent = true;
    std::set<std::string> echoing;
    for (const LampStateCommand& command : commands) {
        const Zigbee2MqttLamp* lamp = lampWithKey(command.key);
        if (!lamp) {
            log("no lamp " + command.key + "; its state dropped");
            continue;
        }
        sent =
            m_client.publish(topic(lamp->friendlyName + "/set"), zigbee2MqttSetPayload(*lamp, command.state)) && sent;
        // A device whose topic is not followed yet (while device lists come quickly) cannot be heard echoing.
        if (m_subscribedDevices.contains(lamp->friendlyName) && !m_silent.contains(lamp->friendlyName))
            echoing.insert(lamp->friendlyName);
    }
    if (!sent || echoing.empty()) {
        answerLater([done = std::move(done), sent] { done(sent ? SendResult::Unconfirmed : SendResult::NoAnswer); });
        return;
    }
    auto timer = std::make_unique<QTimer>();
    timer->setSingleShot(true);
    QObject::connect(timer.get(), &QTimer::timeout, &m_context, [this, timer = timer.get()] {
        const auto waiting =
            std::ranges::find_if(m_echoes, [&](const PendingEcho& echo) { return echo.timer.get() == timer; });
        if (waiting == m_echoes.end())
            return;
        PendingEcho echo = std::move(*waiting);
        m_echoes.erase(waiting);
        echo.timer.release()->deleteLater(); // it is in its own signal
        for (const std::string& device : echo.devices) {
            log("no state of " + device + " within " + std::to_string(m_options.echoTimeout.count()) +
                " ms of a set: its states are taken as sent until it publishes one");
            m_silent.insert(device);
        }
        echo.done(SendResult::Unconfirmed);
    });
    timer->start(m_options.echoTimeout);
    m_echoes.push_back({std::move(echoing), std::move(done), std::move(timer)});
}

void Zigbee2MqttSystem::restore(const std::string& key, const ReadLampState& state,
                                std::function<void(SendResult)> done)
{
    const Zigbee2MqttLamp* lamp = lampWithKey(key);
    const bool sent =
        lamp && m_client.publish(topic(lamp->friendlyName + "/set"), zigbee2MqttRestorePayload(*lamp, state));
    answerLater([done = std::move(done), sent] { done(sent ? SendResult::Delivered : SendResult::NoAnswer); });
}

void Zigbee2MqttSystem::readState(const std::string& key, std::function<void(std::optional<ReadLampState>)> done)
{
    const Zigbee2MqttLamp* lamp = lampWithKey(key);
    if (!lamp ||
        !m_client.publish(topic(lamp->friendlyName + "/get"), "{" + jsonString(lamp->stateProperty) + ":\"\"}")) {
        answerLater([done = std::move(done)] { done(std::nullopt); });
        return;
    }
    auto timer = std::make_unique<QTimer>();
    timer->setSingleShot(true);
    QObject::connect(timer.get(), &QTimer::timeout, &m_context, [this, timer = timer.get()] {
        const auto waiting =
            std::ranges::find_if(m_reads, [&](const PendingRead& read) { return read.timer.get() == timer; });
        if (waiting == m_reads.end())
            return;
        PendingRead read = std::move(*waiting);
        m_reads.erase(waiting);
        read.timer.release()->deleteLater(); // it is in its own signal
        log("no state of lamp " + read.key + " within " + std::to_string(m_options.readTimeout.count()) + " ms");
        read.done(std::nullopt);
    });
    timer->start(m_options.readTimeout);
    m_reads.push_back({key, std::move(done), std::move(timer)});
}

std::unique_ptr<LampSystem> makeZigbee2MqttSystem(const SystemRecord& record,
                                                  const std::filesystem::path& configDirectory, Log& log)
{
    const std::optional<MqttAddress> address = parseMqttAddress(record.address);
    if (!address) {
        log.write(record.id + ": '" + record.address + "' is no MQTT address");
        return nullptr;
    }
    Zigbee2MqttSystem::Options options;
    options.systemId = record.id;
    options.host = address->host;
    options.port = address->port;
    options.baseTopic = address->baseTopic;
    options.user = record.user;
    options.password = systemPassword(configDirectory, record.id, log);
    return std::make_unique<Zigbee2MqttSystem>(std::move(options), log);
}

} // namespace glowcast
