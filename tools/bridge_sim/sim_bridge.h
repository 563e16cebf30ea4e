#pragma once

#include "bridge_sim/json_text.h"
#include "bridge_sim/lamp_rules.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace glowcast::sim {

struct Reply {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    std::vector<std::pair<std::string, std::string>> headers{};
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

// The simulated bridge and discovery portal: lamps, groups, users, the link button, the record of
// requests and the fault. Safe to call from the server's worker threads at once.
class SimBridge {
public:
    struct Options {
        std::string advertisedAddress; // host:port given out by the portal
        std::vector<LampKind> lamps = std::vector<LampKind>(3, LampKind::ExtendedColour);
        std::optional<std::chrono::milliseconds> pressAfter;
        std::vector<std::string> users;
        int rateLimit = 0; // lamp commands a second before "429 Too Many Requests"; 0 for no limit
        // The simulator's time: the link button's press and the rate limit's second follow it.
        std::function<std::chrono::steady_clock::time_point()> clock = std::chrono::steady_clock::now;
        // The bridge's id, 16 hexadecimal digits in capitals: its config's "bridgeid", its discovery
        // entry in small letters, and its MAC address (the id without its middle "FFFE").
        std::string bridgeId = "024743FFFE000001";
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
    using Path = std::vector<std::string>; // the segments after "/api/<user>"

    struct User {
        std::string devicetype;
        std::string created;
        std::string lastUsed;
    };
    struct Group {
        std::string name;
        std::string type = "LightGroup";
        std::vector<std::string> lights{};
    };

    [[nodiscard]] bool linkButtonPressed(Clock::time_point now) const;
    [[nodiscard]] bool overRateLimit(const std::string& method, const Path& path);
    [[nodiscard]] Reply pair(const std::string& body);
    [[nodiscard]] Reply userResource(const std::string& method, const std::string& user, const Path& path,
                                     const std::string& body);
    [[nodiscard]] Reply lights(const std::string& method, const Path& path, const std::string& body);
    [[nodiscard]] Reply groups(const std::string& method, const Path& path, const std::string& body);
    [[nodiscard]] Reply config(const std::string& method, const Path& path, const std::string& body);
    [[nodiscard]] Reply storedResource(const std::string& method, const Path& path, const std::string& body);
    [[nodiscard]] Reply setState(Lamp& lamp, const std::string& body);
    [[nodiscard]] Reply groupAction(const std::string& id, const std::vector<std::string>& lamps,
                                    const std::string& body);
    [[nodiscard]] std::vector<std::string> setGroup(const std::string& address, Group& group, const Body& body,
                                                    bool making);
    [[nodiscard]] Lamp* findLamp(const std::string& id);
    [[nodiscard]] std::vector<std::string> lampIds() const;
    [[nodiscard]] std::string lampsJson() const;
    [[nodiscard]] std::string groupJson(const std::string& name, const std::string& type,
                                        const std::vector<std::string>& lamps);
    [[nodiscard]] std::string groupsJson();
    [[nodiscard]] std::string shortConfigJson() const;
    [[nodiscard]] std::string configJson() const;
    [[nodiscard]] std::string collectionJson(const std::string& name) const;
    [[nodiscard]] std::string requestsJson() const;
    [[nodiscard]] Reply setFault(const std::string& body);
    [[nodiscard]] Reply setLamps(const std::string& body);
    [[nodiscard]] Reply setLamp(const std::string& id, const std::string& body);
    void resetLamps(const std::vector<std::string>& names, const std::vector<LampKind>& kinds);
    void addUser(const std::string& name, const std::string& devicetype);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    Options m_options;
    Clock::time_point m_start = m_options.clock();
    std::vector<Lamp> m_lamps;
    std::map<int, Group> m_groups;
    std::map<std::string, User> m_users;
    std::map<std::string, std::map<std::string, std::string>> m_resources; // collection -> id -> JSON
    int m_nextResourceId = 1;
    std::string m_name = "Glowcast sim";
    std::optional<Clock::time_point> m_pressedAt;
    std::optional<Clock::time_point> m_scheduledPress;
    std::deque<Clock::time_point> m_lampCommands; // those of the last second, for the rate limit
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

} // namespace glowcast::sim
