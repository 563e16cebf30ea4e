#pragma once

#include "core/ports/clock.h"

#include <chrono>
#include <optional>

namespace glowcast {

// When the next lamp state may go, on any system. States go out in their given order, each at least
// one interval after the one before: the paced interval (the pace's share of a second), or longer for a
// while after the bridge said it was overloaded.
class LampPacer {
public:
    // A bridge counts the commands of a second as they arrive, and two commands may arrive a few
    // milliseconds closer together than they left. Spreading each second's commands over a little more
    // than a second keeps the one after them out of that second.
    static constexpr std::chrono::milliseconds kBridgeSecond{1030};

    // The pace's states are spread over `second`; nothing or 0: no pace.
    void setPace(std::optional<int> perSecond, std::chrono::milliseconds second = kBridgeSecond);
    // Zero when the next state may go at once.
    [[nodiscard]] std::chrono::milliseconds waitBefore(SteadyTime now) const;
    // `states` went out at once (a system that sets several lamps in one request): each takes its interval.
    void sent(SteadyTime at, int states = 1);
    // The bridge was overloaded: the next commands go further apart, up to a few per second.
    void overloaded();
    // A batch without an overload in it eases the slowing by half, until it is gone.
    void batchEnded(bool sawOverload);
    [[nodiscard]] std::chrono::milliseconds interval() const;

private:
    std::optional<SteadyTime> m_lastSent;
    int m_lastStates = 1;
    std::chrono::milliseconds m_paced{0};
    std::chrono::milliseconds m_slowed{0};
};

} // namespace glowcast
