#pragma once

#include "core/bridge/lamp_bridge.h"
#include "core/json/value.h"
#include "core/lamp_care/lamp_pacer.h"
#include "core/lamp_care/lamp_restorer.h"
#include "core/lamp_care/lamp_shaping.h"
#include "core/lamp_care/latency_record.h"
#include "core/lamp_care/sent_lamps.h"
#include "core/ports/clock.h"
#include "core/ports/log.h"
#include "core/ports/sleeper.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace glowcast {

// One lamp of the first bridge and what the palette asks of it.
struct LampTargetCommand {
    std::string lampId;
    LampTarget target;
    friend bool operator==(const LampTargetCommand&, const LampTargetCommand&) = default;
};

// Lamp care between "which lamp gets which colour" and the first bridge: shapes each lamp's state as
// every system's lamps are shaped and writes the bridge's body for it, paces the commands, passes over
// what a lamp already shows, gives an overloaded bridge one resend, and puts the lamps back when the
// player has not played for a while. With the default settings it sends each lamp the palette's body,
// one request each, in order, without waiting, except for the one resend an overloaded bridge gets.
class LampCare {
public:
    LampCare(LampBridge& bridge, Clock& clock, Sleeper& sleeper, Log& log);

    void setSettings(const LampCareSettings& settings);
    [[nodiscard]] const LampCareSettings& settings() const { return m_settings; }

    // The bridge's decoded lamp list, read at set-up: each lamp's kind, gamut and range, read (and
    // what cannot be used of them logged) once fitting the lamps is on. A lamp missing from it is sent
    // what every lamp is sent. Forgets what each lamp showed before.
    void readLampList(const Dictionary& lamps);

    // One cover's lamps, sent one at a time so that the caller's own log lines keep their places:
    // startCover, sendOne for each lamp in order, endCover. Each sendOne blocks until the lamp was
    // sent its body or passed over. When the cover is the one before (coverChanged false), a lamp
    // still fading is not sent a new state.
    void startCover(bool coverChanged);
    void sendOne(const LampTargetCommand& command);
    void endCover();
    // What sendOne shapes a lamp's target to, before the bridge's body is written for it.
    [[nodiscard]] LampState shapedState(const LampTargetCommand& command) const;
    // A state of the beat's for a lamp: sent at once, as the pace counts it, without a log line, whatever
    // comes of it; nothing while the bridge is not found and paired, or after a quit. Blocks while it sends.
    void pulse(const std::string& lampId, const LampState& state);
    // A new cover's lamps, in order.
    void send(const std::vector<LampTargetCommand>& commands);

    void playerChanged(PlayerActivity activity);
    // A lamp of another system was handed a state: it counts for when the restore is due as a lamp
    // coloured here does, and its own system puts it back.
    void colouredElsewhere(std::string_view lampId);
    // A quit was asked for: no lamp is sent a state, put back or asked again from now on.
    void stop() { m_stopped = true; }
    [[nodiscard]] bool stopped() const { return m_stopped; }
    // When restoreIfDue will put lamps back: the restore's own time, or later while a fade runs.
    [[nodiscard]] std::optional<SteadyTime> restoreDue() const;
    // Puts the lamps back when the restore is due; nothing before. Blocks while it sends. True when
    // it put back at least one lamp.
    bool restoreIfDue();
    // How long the bridge took to answer its last lamp states: each accepted request of a state, from
    // its asking (after the pace's wait) to its reply. Reads and put-backs are no samples.
    [[nodiscard]] const LatencyRecord& latency() const { return m_latency; }

private:
    // One request with pacing (for lamp states) and the one resend an overloaded bridge gets.
    std::optional<HttpReply> exchange(std::string_view lampId, bool paced,
                                      const std::function<std::optional<HttpReply>()>& request);
    void readOwnState(const std::string& lampId);
    // Sends one state; the bridge's reply, none when none came. measured: its time is a latency sample.
    std::optional<HttpReply> put(const std::string& lampId, const Dictionary& body, bool measured);
    void beginBatch();
    void wait(std::chrono::milliseconds duration);
    void readCapabilities();
    // What a lamp's state is shaped and its body written for: its own when fitting, else a lamp of unknown kind's.
    [[nodiscard]] LampCapabilities capabilitiesOf(std::string_view lampId) const;
    // What the lamp was sent, so that an unchanged state can be passed over.
    void recordSent(const std::string& lampId, const Dictionary& body, const std::optional<HttpReply>& reply);

    LampBridge& m_bridge;
    Clock& m_clock;
    Sleeper& m_sleeper;
    Log& m_log;
    LampCareSettings m_settings;
    LampPacer m_pacer;
    LampRestorer<Dictionary> m_restorer;
    Dictionary m_lampList;
    bool m_capabilitiesRead = false;
    bool m_coverChanged = true;
    std::map<std::string, LampCapabilities, std::less<>> m_capabilities;
    SentLamps<Dictionary> m_sent;
    std::chrono::milliseconds m_waitingLeft{0};
    bool m_sawOverload = false;
    bool m_stopped = false;
    LatencyRecord m_latency;
};

} // namespace glowcast
