#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace glowcast {

inline constexpr std::size_t kSoundBands = 16;

// What one block of the sound that plays tells. Levels are on a scale of 0..255 after the gain
// control, so that quiet and loud music move the lamps alike.
struct SoundFrame {
    float level = 0;       // the block's loudness
    float smoothLevel = 0; // the loudness smoothed over a few blocks
    bool beat = false;     // an onset starts in this block
    bool silent = true;    // the block is below the noise floor and holds no beat: no music
    // The spectrum in 16 bands from about 43 Hz up to 9 kHz, lowest first, each 0..255 over 60 dB.
    std::array<std::uint8_t, kSoundBands> bands{};
    float majorPeakHz = 1;           // the strongest frequency, 1..11025 Hz
    float peakMagnitude = 0;         // its amplitude on the level's scale
    std::uint16_t zeroCrossings = 0; // sign changes within the block
    friend bool operator==(const SoundFrame&, const SoundFrame&) = default;
};

} // namespace glowcast
