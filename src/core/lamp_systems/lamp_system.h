#pragma once

#include "core/colour/chromaticity.h"
#include "core/lamps/lamp_capabilities.h"
#include "core/lamps/lamp_state.h"
#include "core/lamps/system_record.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace glowcast {

// How a system stands, as `glowcastctl systems` prints it: one word, then any detail.
enum class SystemState { Ready, Pairing, Unreachable, Refused, Offline };

[[nodiscard]] std::string_view systemStateName(SystemState state); // "ready", "pairing", ...

// One lamp of a system: its key (stable for the device: a bridge's lamp id, zigbee2mqtt's
// ieee_address with its endpoint, an entity id, a segment id), the name to show, and what it can show.
struct SystemLamp {
    std::string key;
    std::string name;
    LampCapabilities capabilities;
    bool available = true;
    friend bool operator==(const SystemLamp&, const SystemLamp&) = default;
};

// What became of a send: it reached the system, the system refused it (its credentials or the lamp),
// or no answer came (down, timed out, dropped while the connection was away). Unconfirmed: it left, but
// the system did not confirm it within its bound (a lamp that does not echo its state); taken as
// delivered, its time says nothing of how long the system takes.
enum class SendResult { Delivered, Refused, NoAnswer, Unconfirmed };

// Told by a system of what changes; every call on the main thread.
class LampSystemListener {
public:
    virtual ~LampSystemListener() = default;
    // The whole lamp list, each time it was read again.
    virtual void lampsRead(std::vector<SystemLamp> lamps) = 0;
    // detail: a short text for the user ("waiting for the link button", "connection refused"), never a secret.
    virtual void stateChanged(SystemState state, std::string detail) = 0;
    // The system gave credentials to keep (a bridge's user name after its link button was pressed):
    // stored in the system's record.
    virtual void userObtained(std::string user) = 0;
    // The device's own identity (a bridge's id, a WLED device's MAC): a second system with the identity
    // of one already there is refused, so the same device is never added twice.
    virtual void identified(std::string identity) = 0;
};

// One lamp system's adapter: connects, reads its lamps, sends states and reads one back. Nothing
// here blocks; each answer comes later, on the main thread, at most once, and never after stop()
// returned (the sender's own time-out stands in for an answer that does not come).
class LampSystem {
public:
    virtual ~LampSystem() = default;
    void setListener(LampSystemListener* listener) { m_listener = listener; }

    // Connects (pairs, when the system needs it) and reads the lamps; reports through the listener.
    virtual void start() = 0;
    // Reads the lamps again (a system that was down, at the next cover).
    virtual void refresh() = 0;
    // Sends the lamps' states, in order; a system that can set several lamps in one request may.
    virtual void send(std::vector<LampStateCommand> commands, std::function<void(SendResult)> done) = 0;
    // Reads one lamp's state for the restore; nothing when it could not.
    virtual void readState(const std::string& key, std::function<void(std::optional<ReadLampState>)> done) = 0;
    // Puts a lamp back as read: off when it was off.
    virtual void restore(const std::string& key, const ReadLampState& state, std::function<void(SendResult)> done) = 0;
    // Ends every request and the connection; no answer is told after this returns.
    virtual void stop() = 0;
    // The most lamp states one send() may carry: 1 unless the system sets several lamps in one request.
    [[nodiscard]] virtual std::size_t batchLimit() const { return 1; }

protected:
    [[nodiscard]] LampSystemListener* listener() const { return m_listener; }
    // Tells the listener, when there is one, of the system's state.
    void tellState(SystemState state, std::string detail) const
    {
        if (m_listener)
            m_listener->stateChanged(state, std::move(detail));
    }

private:
    LampSystemListener* m_listener = nullptr;
};

} // namespace glowcast
