#pragma once

#include "core/beat/sound_frame.h"
#include "core/lamp_care/lamp_pacer.h"
#include "core/lamps/lamp_state.h"
#include "core/ports/clock.h"

#include <chrono>
#include <optional>
#include <vector>

namespace glowcast {

// What the lamps do with the music: nothing, follow its loudness gently, or pulse on its beats.
enum class BeatMode { Off, Calm, Pulse };

// The brightness one system's lamps are to show over the cover's while music plays. With `Pulse`, each
// beat raises a lamp to its cover brightness at once and lets it fall over the beat's length towards
// 60 % of it; with `Calm`, a lamp glides between 60 % and all of its cover brightness as the smoothed
// loudness goes, at most once a second. The colour stays the cover's. States go out at the system's
// pace, each lamp with at most one state waiting, the newest. When the music stops (the player paused
// or stopped, or 2 s of silence), every lamp goes back to its cover state, fading for 0.4 s; within
// 1 s for as many lamps as the pace sends in 0.6 s.
class PulsePlanner {
public:
    // pace: the system's lamp states a second, as systemPace() tells it; `second`: what they are
    // spread over (LampPacer::kBridgeSecond for the first bridge).
    PulsePlanner(BeatMode mode, int pace, std::chrono::milliseconds second = std::chrono::seconds{1});

    // The cover's states for the system's lamps: what pulses rise to and what the lamps go back to.
    // They were sent on their own; what still waited is dropped. A state without brightness is left alone.
    void setCover(const std::vector<LampStateCommand>& cover);
    void heard(SteadyTime now, const SoundFrame& frame);
    // The lamps go back to the cover, and from now on do what the mode says (nothing when off).
    void setMode(BeatMode mode);
    // The followed player paused or stopped: back to the cover until it plays again.
    void playerStopped();
    void playerPlaying() { m_playerStopped = false; }

    // The state to send now, if one may go; it counts as sent.
    [[nodiscard]] std::optional<LampStateCommand> next(SteadyTime now);
    // How long until next() has a state; nothing while none waits.
    [[nodiscard]] std::optional<std::chrono::milliseconds> wait(SteadyTime now) const;
    // Music is heard and moves the lamps.
    [[nodiscard]] bool playing() const { return m_playing; }

private:
    // What a lamp's waiting state is: a beat's peak (its fall follows it), the fall, a calm step, or
    // the way back to the cover.
    enum class Step { Peak, Fall, Glide, Back };
    struct Lamp {
        LampStateCommand cover;
        std::optional<LampState> waiting;
        Step step = Step::Back;
        SteadyTime due{};
        bool atCover = true;
        std::optional<SteadyTime> lastSent;
        int shown = 0; // the brightness sent last
    };
    void stop();
    void beat(SteadyTime now);
    void follow(SteadyTime now, float smoothLevel);
    static void put(Lamp& lamp, Step step, double share, int fadeTenths, SteadyTime due);

    BeatMode m_mode;
    LampPacer m_pacer;
    std::vector<Lamp> m_lamps;
    bool m_playing = false;
    bool m_playerStopped = false;
    std::optional<SteadyTime> m_silentSince;
    std::optional<SteadyTime> m_lastBeat;
    std::chrono::milliseconds m_beatLength{500};
};

} // namespace glowcast
