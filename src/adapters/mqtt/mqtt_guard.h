#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>

namespace glowcast {

// The packets of a broker's byte stream, told apart by their fixed headers alone: every packet whose
// remaining length is within the limit passes whole; a PUBLISH over it is left out as it streams by, its
// topic read from its first bytes, and any other packet over it, or a length of more than four bytes, ends
// the stream. Nothing of a packet is kept but its header and at most a short topic, so a packet's size
// never costs memory.
class MqttFrames {
public:
    explicit MqttFrames(std::size_t limit) : m_limit(limit) {}

    struct Dropped {
        std::string topic;     // empty when the topic was longer than any of ours
        std::size_t bytes = 0; // its remaining length
        friend bool operator==(const Dropped&, const Dropped&) = default;
    };
    // Takes the next bytes of the stream and appends what passes to out; each PUBLISH left out is told to
    // dropped once its last byte went by. False once the stream is beyond use (then why() says why).
    bool take(std::span<const char> bytes, std::string& out, const std::function<void(Dropped)>& dropped);
    [[nodiscard]] const std::string& why() const { return m_why; }

private:
    enum class Part { Header, Passing, Dropping };
    std::size_t m_limit;
    Part m_part = Part::Header;
    char m_header[5] = {};
    std::size_t m_headerSize = 0;
    std::size_t m_left = 0; // of the packet's remaining length
    Dropped m_dropping;
    std::string m_topicBytes; // the first bytes of the PUBLISH left out: the topic's length, then the topic
    std::string m_why;
};

// Stands between libmosquitto and the broker, because the library takes a packet's whole remaining length
// in memory before it reads a byte of it and has no limit of its own for what it receives. The library
// connects to a Unix socket of ours (in a folder only this user reaches; a peer of another process is
// turned away), and each connection there is relayed to the broker on a thread of the guard's, the broker's
// packets through MqttFrames: the library never sees a packet over the limit. Why a connection to the
// broker failed or ended (refused, unreachable, a packet over the limit) is told to failed, on the guard's
// thread, before the library sees its end; a PUBLISH left out is told to dropped there too.
class MqttGuard {
public:
    MqttGuard(std::size_t limit, std::function<void(std::string)> failed,
              std::function<void(MqttFrames::Dropped)> dropped);
    ~MqttGuard();
    MqttGuard(const MqttGuard&) = delete;
    MqttGuard& operator=(const MqttGuard&) = delete;

    // Listens on the socket and starts the thread; why not, when it cannot.
    [[nodiscard]] std::optional<std::string> start();
    // The socket the library connects to (with port 0).
    [[nodiscard]] const std::string& path() const { return m_path; }
    // Where the connections that come from now on are relayed to: a numeric address and a port.
    void relayTo(const std::string& address, int port);
    // Ends the thread: what the library wrote before its connection closed is still passed on, for at most
    // a second.
    void stop();

private:
    void run();

    std::size_t m_limit;
    std::function<void(std::string)> m_failed;
    std::function<void(MqttFrames::Dropped)> m_dropped;
    std::string m_folder;
    std::string m_path;
    int m_listening = -1;
    int m_wake = -1; // an eventfd: stop() writes to it
    std::thread m_thread;
    std::mutex m_targetLock;
    std::string m_address;
    int m_port = 0;
};

} // namespace glowcast
