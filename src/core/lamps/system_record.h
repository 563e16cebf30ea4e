#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace glowcast {

// The kinds of lamp system Glowcast reaches, one row each in systemKinds(). The first bridge is a Bridge
// too; it keeps its own path (its requests and log lines as they always were) and is never one of the
// systems.
enum class SystemKind { Bridge, Zigbee2Mqtt, HomeAssistant, Wled };
inline constexpr std::size_t kSystemKindCount = 4;

// Where a WLED listens for the sound sync unless told otherwise.
inline constexpr int kDefaultSyncPort = 11988;

// A system as the preferences keep it. Members the program does not know are kept by the store.
struct SystemRecord {
    std::string id; // "bridge-2", "z2m", ...: letters, digits, '-' and '_', at most 32
    SystemKind kind = SystemKind::Bridge;
    std::string address;             // "host[:port]" for a bridge, "mqtt://host[:port][/base]", an http(s) URL
    std::optional<int> pace;         // lamp states a second; nothing: the kind's default
    std::optional<std::string> user; // a bridge's user name, a broker's user
    // Added to the system's send time, for lamps that show a state later than the system answers.
    std::chrono::milliseconds offset{0};
    // A WLED's UDP port for the sound sync while music plays; 0 sends it none. Other kinds keep the default.
    int syncPort = kDefaultSyncPort;
    friend bool operator==(const SystemRecord&, const SystemRecord&) = default;
};

[[nodiscard]] constexpr bool isSyncPort(int port)
{
    return port >= 0 && port <= 65'535;
}

inline constexpr std::string_view kSyncPortRange = "a sync port is 0 (none) to 65535";

// Why port cannot be the sync port of the system record is about; empty when it can.
[[nodiscard]] constexpr std::string_view syncPortRefusal(const SystemRecord& record, int port)
{
    if (record.kind != SystemKind::Wled)
        return "only a WLED system takes a sync port";
    return isSyncPort(port) ? std::string_view{} : kSyncPortRange;
}

inline constexpr std::chrono::milliseconds kLowestOffset{-200};
inline constexpr std::chrono::milliseconds kHighestOffset{2000};
[[nodiscard]] constexpr bool isSystemOffset(std::chrono::milliseconds offset)
{
    return offset >= kLowestOffset && offset <= kHighestOffset;
}

// True for an id a system may take.
[[nodiscard]] bool isSystemId(std::string_view id);

// A lamp's id in the table: a lamp of the first bridge keeps its plain id, every other one is
// "SYSTEM/KEY".
[[nodiscard]] std::string lampIdOf(std::string_view systemId, std::string_view key);
struct SystemLampId {
    std::string_view system;
    std::string_view key;
};
// Nothing for a plain id (the first bridge's lamp).
[[nodiscard]] std::optional<SystemLampId> splitLampId(std::string_view id);

} // namespace glowcast
