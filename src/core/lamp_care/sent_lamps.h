#pragma once

#include "core/ports/clock.h"

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace glowcast {

// Why a lamp is not told a state again: it is still fading to that very state; it is still fading
// and the cover is the one before (a new cover's state goes out at once, the same cover's waits for
// the fade to end); or skipping unchanged states is on and the lamp accepted that state last.
enum class PassOver { No, StillFadingToIt, StillFadingSameCover, AlreadyShows };

// The log line for a lamp passed over; `shown` is the state as text.
[[nodiscard]] std::string passOverLine(PassOver why, std::string_view lampId, std::string_view shown);

// What each lamp of one system was last sent and accepted, and the fade it is in: the one rule by
// which every system passes a lamp over rather than tell it again. State is the system's own form
// of a lamp's state (the first bridge's body, another system's LampState).
template <typename State> class SentLamps {
public:
    [[nodiscard]] PassOver passOver(std::string_view lampId, const State& state, bool coverChanged, bool skipUnchanged,
                                    SteadyTime now) const
    {
        if (const auto fade = m_fades.find(lampId); fade != m_fades.end() && now < fade->second.ends) {
            if (fade->second.state == state)
                return PassOver::StillFadingToIt;
            if (!coverChanged)
                return PassOver::StillFadingSameCover;
        }
        if (const auto last = m_accepted.find(lampId);
            skipUnchanged && last != m_accepted.end() && last->second == state)
            return PassOver::AlreadyShows;
        return PassOver::No;
    }

    // The lamp was sent the state at `at`, fading for `fade`; accepted when the system took it.
    void sent(const std::string& lampId, const State& state, SteadyTime at, std::chrono::milliseconds fade,
              bool accepted)
    {
        if (fade > std::chrono::milliseconds{0})
            m_fades.insert_or_assign(lampId, Fade{at + fade, state});
        else
            m_fades.erase(lampId);
        if (accepted)
            m_accepted.insert_or_assign(lampId, state);
        else
            m_accepted.erase(lampId);
    }

    // When the last fade of any lamp ends; nothing when no lamp fades.
    [[nodiscard]] std::optional<SteadyTime> lastFadeEnd() const
    {
        std::optional<SteadyTime> last;
        for (const auto& [id, fade] : m_fades)
            if (!last || fade.ends > *last)
                last = fade.ends;
        return last;
    }

    void forget(std::string_view lampId)
    {
        if (const auto fade = m_fades.find(lampId); fade != m_fades.end())
            m_fades.erase(fade);
        if (const auto last = m_accepted.find(lampId); last != m_accepted.end())
            m_accepted.erase(last);
    }

    void clear()
    {
        m_fades.clear();
        m_accepted.clear();
    }

private:
    struct Fade {
        SteadyTime ends;
        State state;
    };
    std::map<std::string, Fade, std::less<>> m_fades;
    std::map<std::string, State, std::less<>> m_accepted;
};

} // namespace glowcast
