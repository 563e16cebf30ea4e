#include "core/lamp_care/lamp_pacer.h"

#include <algorithm>

namespace glowcast {

namespace {

constexpr std::chrono::milliseconds kFirstSlowing{100};
constexpr std::chrono::milliseconds kMostSlowing{400};
constexpr std::chrono::milliseconds kLeastSlowing{50};

} // namespace

void LampPacer::setPace(std::optional<int> perSecond, std::chrono::milliseconds second)
{
    // Rounded up, so that no second ever holds more than the pace.
    m_paced = perSecond && *perSecond > 0 ? std::chrono::milliseconds{(second.count() + *perSecond - 1) / *perSecond}
                                          : std::chrono::milliseconds{0};
}

std::chrono::milliseconds LampPacer::interval() const
{
    return std::max(m_paced, m_slowed);
}

std::chrono::milliseconds LampPacer::waitBefore(SteadyTime now) const
{
    if (!m_lastSent)
        return std::chrono::milliseconds{0};
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*m_lastSent + interval() * m_lastStates - now);
    return std::max(wait, std::chrono::milliseconds{0});
}

void LampPacer::sent(SteadyTime at, int states)
{
    m_lastSent = at;
    m_lastStates = states;
}

void LampPacer::overloaded()
{
    m_slowed = std::clamp(2 * m_slowed, kFirstSlowing, kMostSlowing);
}

void LampPacer::batchEnded(bool sawOverload)
{
    if (sawOverload)
        return;
    m_slowed /= 2;
    if (m_slowed < kLeastSlowing)
        m_slowed = std::chrono::milliseconds{0};
}

} // namespace glowcast
