#pragma once

#include <deque>
#include <vector>

namespace glowcast {

// Finds the blocks where a beat starts, from each block's spectral flux (how much the spectrum rose
// since the block before). A block is an onset when its flux stands well above the median flux of the
// last second and above a floor, and the last onset is far enough back that one drum hit counts once.
// The median, unlike an average, is not lifted by the beats themselves: a click track in silence keeps
// a median of nothing, and steady noise a median as high as its every block.
class OnsetDetector {
public:
    // seconds: the block's length.
    [[nodiscard]] bool onset(float flux, float seconds);

private:
    std::deque<float> m_recent;
    std::vector<float> m_sorted;
    float m_sinceOnset = 1;
};

} // namespace glowcast
