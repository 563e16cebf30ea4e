#pragma once

#include "core/ports/clock.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace glowcast {

// Cuts what the sound server hands over into mono blocks of 20 ms for the analysis: interleaved 32-bit
// float frames of any channel count, mixed down, each block stamped with when its last sample was
// heard. What the server gets wrong costs nothing but its own samples: a chunk that reaches outside
// its memory is cut at the memory's end, a part frame at its end is left out, a sample that is not a
// number counts as silence.
class SoundBlocks {
public:
    using Block = std::function<void(std::span<const float> samples, SteadyTime lastHeard)>;

    // sampleRate in Hz, channels 1 or more.
    SoundBlocks(int sampleRate, int channels);

    // One buffer: the bytes of its memory, where its data starts in them and how many bytes it holds,
    // and when its last frame was heard. Calls block for each block it completes.
    void take(std::span<const std::byte> memory, std::uint32_t offset, std::uint32_t size, SteadyTime lastHeard,
              const Block& block);

    [[nodiscard]] int sampleRate() const { return m_sampleRate; }
    [[nodiscard]] int channels() const { return m_channels; }

private:
    int m_sampleRate;
    int m_channels;
    std::vector<float> m_block;
    std::size_t m_filled = 0;
};

} // namespace glowcast
