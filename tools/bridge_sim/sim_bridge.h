#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace glowcast::sim {

struct Reply {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
};

// What the simulator does to the bridge and portal requests while a fault is set.
enum class FaultMode {
    None,      // answer normally (after the latency, if any)
    NoAnswer,  // keep the connection open and never answer, until the fault is cleared
    Drop,      // send the head of a reply, then close the connection before its body
    Status,    // answer with the fault's status, and its body or else the normal one
    Garbage,   // answer 200 with bytes that are neither JSON nor UTF-8
    Oversized, // answer 200 with a body of `size` bytes
};

struct Fault {
    std::chrono::milliseconds latency{0};
    FaultMode mode = FaultMode::None;
    int status = 500;
    std::optional<std::string> body;
    std::size_t size = 9u << 20;
    int remaining = -1; // requests still to affect; -1 until cleared
    std::string path;   // when set, only requests whose path ends with it are affected
};

struct Lamp {
    std::string id;
    std::string name;
    bool on = true;
    int bri = 144;
    int hue = 0;
    int sat = 0;
    double x = 0.4573;
    double y = 0.41;
};

// The simulated bridge and discovery portal: lamps, users, the link button, the record of
// requests and the fault. Safe to call from the server's worker threads at once.
class SimBridge {
public:
    struct Options {
        std::string advertisedAddress; // host:port given out by the portal
        int lamps = 3;
        std::optional<std::chrono::milliseconds> pressAfter;
        std::vector<std::string> users;
    };

    explicit SimBridge(Options options);

    // A request under "/api": the portal, pairing and the user's resources.
    [[nodiscard]] Reply handleApi(const std::string& method, const std::string& path, const std::string& body);
    // A request under "/sim/": the control interface.
    [[nodiscard]] Reply handleControl(const std::string& method, const std::string& path, const std::string& body);
    // Records a bridge or portal request and returns the fault to apply to it.
    // `port` is the client's port: requests on one kept-alive connection share it.
    [[nodiscard]] Fault record(const std::string& method, const std::string& path, const std::string& body, int port);
    // Blocks a request that gets no answer until the fault is cleared, the simulator stops, or at
    // most `limit` has passed.
    void holdWithoutAnswer(std::chrono::milliseconds limit);
    // Waits out a latency, cut short when the simulator stops.
    void delay(std::chrono::milliseconds latency);
    void stop();

    [[nodiscard]] std::string stateJson();

private:
    using Clock = std::chrono::steady_clock;

    [[nodiscard]] bool linkButtonPressed(Clock::time_point now) const;
    [[nodiscard]] Reply pair(const std::string& body);
    [[nodiscard]] Reply userResource(const std::string& method, const std::string& user, const std::string& rest,
                                     const std::string& body);
    [[nodiscard]] Reply setState(Lamp& lamp, const std::string& body);
    [[nodiscard]] std::string lampsJson() const;
    [[nodiscard]] std::string requestsJson() const;
    [[nodiscard]] Reply setFault(const std::string& body);
    [[nodiscard]] Reply setLamps(const std::string& body);
    void resetLamps(const std::vector<std::string>& names);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    Options m_options;
    Clock::time_point m_start = Clock::now();
    std::vector<Lamp> m_lamps;
    std::set<std::string> m_users;
    std::map<std::string, std::map<std::string, std::string>> m_resources; // collection -> id -> JSON
    int m_nextResourceId = 1;
    int m_nextUser = 1;
    std::optional<Clock::time_point> m_pressedAt;
    std::optional<Clock::time_point> m_scheduledPress;
    struct Recorded {
        std::string method;
        std::string path;
        std::string body;
        double time = 0;
        int port = 0;
    };
    std::deque<Recorded> m_requests;
    Fault m_fault;
    std::uint64_t m_faultGeneration = 0;
    bool m_stopping = false;
};

// JSON helpers the simulator writes its replies with.
[[nodiscard]] std::string jsonString(const std::string& text);
[[nodiscard]] std::string jsonNumber(double number);

} // namespace glowcast::sim
