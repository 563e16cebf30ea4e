#include "core/beat/onset_detector.h"

#include <algorithm>

namespace glowcast {

namespace {

// How far above the recent median a block's flux must stand.
constexpr float kAboveMedian = 2;
// Below this a rise is too small to be heard as a beat, whatever came before (silence, a held tone).
constexpr float kFloor = 0.5F;
// The time the median is taken over.
constexpr float kRecentSeconds = 1;
// A drum hit's tail, and a quick roll, within this is the same beat: no lamp could show it anyway.
constexpr float kRefractorySeconds = 0.15F;

} // namespace

bool OnsetDetector::onset(float flux, float seconds)
{
    m_sinceOnset += seconds;
    m_sorted.assign(m_recent.begin(), m_recent.end());
    const auto middle = m_sorted.begin() + static_cast<long>(m_sorted.size() / 2);
    std::nth_element(m_sorted.begin(), middle, m_sorted.end());
    const float median = m_sorted.empty() ? 0 : *middle;
    const bool found = flux > kFloor && flux > kAboveMedian * median && m_sinceOnset >= kRefractorySeconds;
    m_recent.push_back(flux);
    while (static_cast<float>(m_recent.size()) * seconds > kRecentSeconds && m_recent.size() > 1)
        m_recent.pop_front();
    if (found)
        m_sinceOnset = 0;
    return found;
}

} // namespace glowcast
