#pragma once

#include "adapters/mqtt/mqtt_guard.h"
#include "core/ports/log.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <any>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace glowcast {

struct MosquittoLibrary;

// An MQTT client on libmosquitto, which the first client to start opens for the process (a client started
// without it says why, as a start that failed). Its network loop runs on a thread of its own; every callback below
// is called later on the thread that made the client (the main thread), handed over by queued
// invocation, and never after stop() returned. Nothing blocks the caller: the broker's host name is looked
// up asynchronously and the connection made to its address; a name that does not resolve is told as a
// failed connection and looked up again after the back-off below. It speaks MQTT 5. Publishes are QoS 0 and leave only
// while connected: one made while the connection is away is dropped with a log line and never sent later. The broker is
// told the largest packet we take, so it drops larger messages itself; a message whose payload still exceeds the cap is
// dropped with a log line. A lost or refused connection is tried again after 1 s, then twice as long each time up to 30
// s; the subscriptions are made again on every connect. The password is never logged. A broker that
// sends a larger packet all the same costs no memory for it: an MqttGuard between the library and the broker
// leaves out a PUBLISH over the cap and 1 KiB as it streams by (with a log line) and ends the connection at
// any other packet over it.
// What waits for the main thread is bounded: of a topic named newest-only, only the newest message waits (a
// list published again and again costs one message, however often it comes); every other message waits
// while all that waits stays under twice the cap, and is dropped with a log line beyond. A topic with a
// decoder is newest-only too, and its newest message is decoded on a thread of its own beside the network
// thread: the main thread gets the decoded value, never the text, and what came while a decoding ran waits
// as one message.
class MqttClient final : public QObject {
public:
    struct Options {
        std::string host;
        int port = 1883;
        std::string clientId; // empty: one the library makes up
        std::optional<std::string> user;
        std::optional<std::string> password;
        std::size_t maxPayloadBytes = std::size_t{4} << 20;
        int keepAliveSeconds = 30;
        // Published by the broker for us when the connection ends without a goodbye: topic and
        // payload, retained.
        std::optional<std::pair<std::string, std::string>> will;
        std::string logPrefix;            // put before every log line: "z2m: "
        std::set<std::string> newestOnly; // topics whose older message is worthless once a newer one came
        // By topic: what onDecoded gets for a message's payload, called on the decoding thread.
        std::map<std::string, std::function<std::any(const QByteArray& payload)>> decoders;
    };

    MqttClient(Options options, Log& log);
    ~MqttClient() override;
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    // Starts connecting; why not (also logged) when the client could not be set up as asked: no user,
    // password or last will the library refuses ever becomes a connection without them.
    [[nodiscard]] std::optional<std::string> start();
    // Writes what was published (for at most a second), says goodbye to the broker and ends the network
    // thread; no callback comes after it.
    void stop();

    // Kept and made again at every connect; made at once when connected.
    void subscribe(const std::string& topic);
    void unsubscribe(const std::string& topic);
    // The same for many topics, in few packets.
    void subscribe(const std::vector<std::string>& topics);
    void unsubscribe(const std::vector<std::string>& topics);
    // False when it did not leave (not connected: logged with the topic).
    bool publish(const std::string& topic, const std::string& payload, bool retain = false);
    [[nodiscard]] bool connected() const { return m_connected; }

    std::function<void()> onConnected;
    // refused: the broker answered and turned us away (credentials); else the connection failed or broke.
    std::function<void(const std::string& reason, bool refused)> onDisconnected;
    std::function<void(const std::string& topic, const QByteArray& payload)> onMessage;
    // A message of a topic with a decoder, decoded.
    std::function<void(const std::string& topic, std::any decoded)> onDecoded;

private:
    // Called on the network thread.
    static void connectCallback(mosquitto* client, void* self, int result);
    static void disconnectCallback(mosquitto* client, void* self, int result);
    static void messageCallback(mosquitto* client, void* self, const mosquitto_message* message);

    // Hands a message to the main thread, or drops it when too much waits already.
    void handOver(std::string topic, QByteArray payload);
    void deliverNewest(const std::string& topic);
    void decodeNewest();
    void deliverDecoded(const std::string& topic);
    void stopDecoding();
    // Room for bytes more waiting for the main thread: false (counted as dropped) when there is none.
    bool reserve(std::size_t bytes);
    void release(std::size_t bytes);
    std::optional<std::string> failedToStart(const std::string& reason);
    void lookUp();
    bool connectTo(const std::string& address);
    void connectedNow(int result);
    void disconnectedNow(const std::string& reason);
    void log(const std::string& line);

    Options m_options;
    Log& m_log;
    MqttGuard m_guard;
    std::string m_guardFailure;                  // why the guard ended the connection last, under m_waitingLock
    const MosquittoLibrary* m_library = nullptr; // once started
    mosquitto* m_client = nullptr;
    std::set<std::string> m_topics;
    std::unique_ptr<QObject> m_lookup; // the lookup in progress answers to it; gone with stop()
    QTimer m_lookupAgain;
    unsigned m_lookupDelaySeconds = 0;
    bool m_running = false;
    bool m_connected = false;
    bool m_loggedDown = false;            // one line per outage, not one per failed attempt
    std::optional<std::string> m_refusal; // why the broker turned the last attempt away

    // Between the network thread and the main thread.
    std::mutex m_waitingLock;
    std::map<std::string, QByteArray> m_newest;    // by newest-only topic: the message not yet handed over
    std::map<std::string, QByteArray> m_undecoded; // by topic with a decoder: the message not yet decoded
    std::map<std::string, std::any> m_decoded;     // by topic with a decoder: the value not yet handed over
    std::condition_variable m_decodingWanted;
    bool m_decodingStopped = false;
    std::thread m_decoding;
    std::size_t m_waitingBytes = 0;
    std::size_t m_droppedMessages = 0; // for want of room, since the last log line of it
};

} // namespace glowcast
