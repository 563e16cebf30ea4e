#include "adapters/pipewire/sound_blocks.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

namespace glowcast {

SoundBlocks::SoundBlocks(int sampleRate, int channels)
    : m_sampleRate(std::max(sampleRate, 1)), m_channels(std::max(channels, 1)),
      m_block(static_cast<std::size_t>(std::max(m_sampleRate / 50, 1)))
{
}

void SoundBlocks::take(std::span<const std::byte> memory, std::uint32_t offset, std::uint32_t size,
                       SteadyTime lastHeard, const Block& block)
{
    if (offset >= memory.size())
        return;
    const std::size_t bytes = std::min<std::size_t>(size, memory.size() - offset);
    const std::size_t frameBytes = sizeof(float) * static_cast<std::size_t>(m_channels);
    const std::size_t frames = bytes / frameBytes;
    const std::byte* data = memory.data() + offset;
    for (std::size_t frame = 0; frame < frames; ++frame) {
        float sum = 0;
        for (int channel = 0; channel < m_channels; ++channel) {
            float sample = 0; // the server's memory need not be aligned for floats
            std::memcpy(&sample, data + frame * frameBytes + sizeof(float) * static_cast<std::size_t>(channel),
                        sizeof sample);
            sum += std::isfinite(sample) ? std::clamp(sample, -1.0F, 1.0F) : 0.0F;
        }
        m_block[m_filled++] = sum / static_cast<float>(m_channels);
        if (m_filled == m_block.size()) {
            m_filled = 0;
            const auto later =
                std::chrono::nanoseconds(static_cast<std::int64_t>(frames - 1 - frame) * 1'000'000'000 / m_sampleRate);
            block(m_block, lastHeard - later);
        }
    }
}

} // namespace glowcast
