#pragma once

#include "core/ports/clock.h"

#include <chrono>
#include <optional>

namespace glowcast {

// When the next lamp command may go. Commands go out in their given order, each at least one
// interval after the one before: the paced interval (a little over 1/pace), or longer for a while
// after the bridge said it was overloaded.
class LampPacer {
public:
    void setPace(std::optional<int> perSecond);
    // Zero when the next command may go at once.
    [[nodiscard]] std::chrono::milliseconds waitBefore(SteadyTime now) const;
    void sent(SteadyTime at);
    // The bridge was overloaded: the next commands go further apart, up to a few per second.
    void overloaded();
    // A batch without an overload in it eases the slowing by half, until it is gone.
    void batchEnded(bool sawOverload);
    [[nodiscard]] std::chrono::milliseconds interval() const;

private:
    std::optional<SteadyTime> m_lastSent;
    std::chrono::milliseconds m_paced{0};
    std::chrono::milliseconds m_slowed{0};
};

} // namespace glowcast
