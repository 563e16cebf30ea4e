#pragma once

#include "core/beat/pulse_planner.h"
#include "core/beat/sound_capture.h"
#include "core/lamps/lamp_state.h"
#include "core/lamps/system_record.h"
#include "core/ports/clock.h"
#include "core/ports/datagram_sender.h"
#include "core/ports/timer.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace glowcast {

// "off", "calm", "pulse": the "beat" setting's words; nothing for any other.
[[nodiscard]] std::optional<BeatMode> beatModeNamed(std::string_view word);
[[nodiscard]] std::string_view soundCaptureStateName(SoundCaptureState state); // "off", "waiting", ...

// One lamp system as the beat takes it at a cover: the cover's states it was handed, the lamp states a
// second it is sent (spread over `second`), and how long after a sound was heard its states are to go,
// so that its lamps show the beat when the speaker plays it: the delay less its latency, plus its offset.
struct BeatSystem {
    std::string id;
    int pace = 5;
    std::chrono::milliseconds second{1000};
    std::chrono::milliseconds lag{0};
    std::vector<LampStateCommand> cover;
};

// A WLED's host and the UDP port it hears the sound sync on.
struct SoundSyncTarget {
    std::string host;
    std::uint16_t port = 0;
    friend bool operator==(const SoundSyncTarget&, const SoundSyncTarget&) = default;
};

// Where the sound sync goes: each WLED system's host, on its sync port, but those whose port is 0.
[[nodiscard]] std::vector<SoundSyncTarget> soundSyncTargets(const std::vector<SystemRecord>& records);

// The beat on top of the cover's colours. Hears the sound block by block; while music plays, each sound
// sync target is sent the newest block as WLED's sound sync at once, some 45 a second, and each lamp system's lamps are
// moved by a pulse planner of its own (its pace, its cover's states), the block reaching the planner its lag after it
// was heard. The planners' states leave through onPulse, to the system's own sender. A followed player that
// pauses or stops, a capture that ends, or 2 s of silence end the music: the packets stop, and every lamp
// goes back to its cover state. With the beat off nothing is sent.
class LampBeat final : public SoundListener {
public:
    LampBeat(Timers& timers, Clock& clock, DatagramSender& datagrams);
    LampBeat(const LampBeat&) = delete;
    LampBeat& operator=(const LampBeat&) = delete;
    ~LampBeat() override;

    // Another mode: the lamps go back to their cover states; the next cover's systems take the new one.
    void setMode(BeatMode mode);
    [[nodiscard]] BeatMode mode() const { return m_mode; }
    void setSyncTargets(std::vector<SoundSyncTarget> targets) { m_targets = std::move(targets); }
    // A cover's states were handed to these systems; any other system's lamps are left alone from now on.
    void coverSent(std::vector<BeatSystem> systems);
    // The followed player plays, or it paused or stopped (or is gone): then the lamps go back at once.
    void playerChanged(bool playing);
    [[nodiscard]] SoundCaptureState captureState() const { return m_captureState; }
    // Music is heard: packets go out and lamps move.
    [[nodiscard]] bool playing() const;

    void heard(SteadyTime at, const SoundFrame& frame) override;
    void soundStateChanged(SoundCaptureState state) override;

    // A state of the beat's for a lamp of a system.
    std::function<void(const std::string& systemId, const LampStateCommand& command)> onPulse;
    // The capture's state changed, for Status and the window.
    std::function<void(SoundCaptureState)> onCaptureStateChanged;

private:
    struct System {
        System(BeatSystem from, BeatMode mode, std::unique_ptr<Timer> made);
        BeatSystem system;
        PulsePlanner planner;
        std::deque<std::pair<SteadyTime, SoundFrame>> heard; // each with when it reaches the planner
        std::unique_ptr<Timer> timer;
    };
    void run(System& system);
    void arm(System& system);
    // Every lamp back to its cover state, at the systems' pace.
    void stopMusic();

    Timers& m_timers;
    Clock& m_clock;
    DatagramSender& m_datagrams;
    BeatMode m_mode = BeatMode::Off;
    std::vector<SoundSyncTarget> m_targets;
    std::vector<std::unique_ptr<System>> m_systems;
    SoundCaptureState m_captureState = SoundCaptureState::Off;
    bool m_playerStopped = false;
    std::optional<SteadyTime> m_lastSound; // the last block above the noise floor
    std::optional<SteadyTime> m_lastHeard;
    std::uint8_t m_frameCounter = 0;
    std::optional<SteadyTime> m_nextPacket;
    bool m_beatUnsent = false;
};

} // namespace glowcast
