#include "core/lamp_care/latency_record.h"

#include <algorithm>

namespace glowcast {
namespace {

// The ceil(percent/100 * count)-th smallest of `sorted`; count > 0.
std::chrono::milliseconds nearestRank(const std::array<std::chrono::milliseconds, LatencyRecord::kKept>& sorted,
                                      std::size_t count, std::size_t percent)
{
    const std::size_t rank = (percent * count + 99) / 100;
    return sorted[std::max<std::size_t>(rank, 1) - 1];
}

} // namespace

void LatencyRecord::add(std::chrono::milliseconds taken)
{
    m_samples[m_next] = taken;
    m_next = (m_next + 1) % kKept;
    m_count = std::min(m_count + 1, kKept);
}

std::optional<LatencyFigures> LatencyRecord::figures() const
{
    if (m_count == 0)
        return std::nullopt;
    std::array<std::chrono::milliseconds, kKept> sorted = m_samples;
    std::sort(sorted.begin(), sorted.begin() + static_cast<long>(m_count));
    return LatencyFigures{nearestRank(sorted, m_count, 50), nearestRank(sorted, m_count, 95), m_count};
}

} // namespace glowcast
