#pragma once

#include "adapters/mqtt/mqtt_client.h"
#include "adapters/zigbee2mqtt/zigbee2mqtt_devices.h"
#include "core/lamp_systems/lamp_system.h"
#include "core/ports/log.h"

#include <QObject>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace glowcast {

// Lamps behind zigbee2mqtt, over its MQTT broker. Subscribes to BASE/bridge/state, BASE/bridge/devices
// and each lamp's device topic and its availability, nothing else. The lamps come from the retained
// device list, each time it is published again. Lists that change the lamps in quick succession are no
// longer taken as they come: the broker would queue every one of them for a Glowcast that reads slower
// than they come, and the newest would arrive only after all before it. The list is unsubscribed and
// asked for (its retained message) whenever none came for a moment, until one comes unchanged; meanwhile
// the device topics stay as they were and follow the lamps once the lists stop.
// A state goes out as BASE/<friendly name>/set at QoS 0: delivered once the device's next state message
// echoes it, NoAnswer while the broker is away (dropped, never sent later). A device that does not echo
// within echoTimeout, or whose topic is not followed yet, is taken at its word, Unconfirmed, and a silent
// one's states are answered as they leave until it publishes a state again. A read asks BASE/<friendly name>/get and
// takes the device's next state message, or nothing after readTimeout. Main thread only; answers come from the event
// loop, never inside the call.
class Zigbee2MqttSystem final : public LampSystem {
public:
    struct Options {
        std::string systemId; // names the log lines and the MQTT client
        std::string host;
        int port = 1883;
        std::string baseTopic = "zigbee2mqtt";
        std::optional<std::string> user;
        std::optional<std::string> password;
        std::chrono::milliseconds readTimeout{2'000};
        // Below the senders' answer time-out, so a device that never echoes leaves its system reachable.
        std::chrono::milliseconds echoTimeout{1'000};
        // How long a connection may take before the system shows as unreachable, and zigbee2mqtt's word
        // on a new connection before it shows as offline.
        std::chrono::milliseconds connectTimeout{5'000};
        std::size_t maxPayloadBytes = std::size_t{8} << 20; // a device list of thousands of devices fits
    };

    Zigbee2MqttSystem(Options options, Log& log);
    ~Zigbee2MqttSystem() override;

    void start() override;
    void refresh() override;
    void send(std::vector<LampStateCommand> commands, std::function<void(SendResult)> done) override;
    void readState(const std::string& key, std::function<void(std::optional<ReadLampState>)> done) override;
    void restore(const std::string& key, const ReadLampState& state, std::function<void(SendResult)> done) override;
    void stop() override;

private:
    // A device list as the decoding thread read it: its lamps (nothing when it is no list) and the log lines
    // of reading it, written on the main thread.
    struct DecodedDevices {
        std::optional<std::vector<Zigbee2MqttLamp>> lamps;
        std::vector<std::string> logLines;
    };
    struct PendingRead {
        std::string key;
        std::function<void(std::optional<ReadLampState>)> done;
        std::unique_ptr<QTimer> timer;
    };
    // A send whose devices have not all echoed its states yet.
    struct PendingEcho {
        std::set<std::string> devices;
        std::function<void(SendResult)> done;
        std::unique_ptr<QTimer> timer;
    };

    void connected();
    void disconnected(const std::string& reason, bool refused);
    void received(const std::string& topic, const QByteArray& payload);
    [[nodiscard]] DecodedDevices decodeDevices(const QByteArray& payload);
    void takeDevices(DecodedDevices devices);
    void askForDevices();
    void takeEveryList();
    void subscribeDevices();
    void tellLamps();
    void tell(SystemState state, std::string detail);
    void answerLater(std::function<void()> answer);
    [[nodiscard]] const Zigbee2MqttLamp* lampWithKey(const std::string& key) const;
    [[nodiscard]] std::string topic(const std::string& rest) const { return m_options.baseTopic + "/" + rest; }
    void log(const std::string& line);

    Options m_options;
    Log& m_log;
    MqttClient m_client;
    QObject m_context; // answers still queued when the system goes are dropped with it
    QTimer m_connectTimer;
    QTimer m_askDevices; // while lists come in quick succession: when to ask for the list, or to give up asking
    std::optional<std::chrono::steady_clock::time_point> m_lampsChanged; // by the list before
    bool m_askingForDevices = false;
    bool m_askedForDevices = false; // and no list came since
    std::vector<Zigbee2MqttLamp> m_lamps;
    std::set<std::string> m_subscribedDevices; // friendly names whose topics are subscribed
    // The decoding thread's own: the device list it read last and its lamps. refresh() asks for a list read anew.
    std::optional<QByteArray> m_decodedText;
    std::vector<Zigbee2MqttLamp> m_decodedLamps;
    std::atomic<bool> m_readAnew = false;
    std::map<std::string, bool> m_available; // by friendly name; a device never heard of is available
    std::vector<PendingRead> m_reads;
    std::vector<PendingEcho> m_echoes;
    std::set<std::string> m_silent; // devices that did not echo their last state
    std::optional<bool> m_bridgeOnline;
    bool m_devicesRead = false;
    bool m_lampsToTell = false; // an availability changed: the lamps are told from the event loop
    bool m_heard = false;       // zigbee2mqtt's state or device list came on this connection
    bool m_stopped = false;
    std::optional<SystemState> m_state;
    std::string m_detail;
};

// The system for a record of kind zigbee2mqtt: the broker from its address, the user from the record and
// the password from the configuration directory's systems/ID.password. Nothing, with a log line, for an
// address that is no MQTT address.
[[nodiscard]] std::unique_ptr<LampSystem> makeZigbee2MqttSystem(const SystemRecord& record,
                                                                const std::filesystem::path& configDirectory, Log& log);

} // namespace glowcast
