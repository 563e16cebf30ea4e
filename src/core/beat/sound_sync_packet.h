#pragma once

#include "core/beat/sound_frame.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace glowcast {

inline constexpr std::size_t kSoundSyncPacketSize = 44;
using SoundSyncPacket = std::array<std::uint8_t, kSoundSyncPacketSize>;

// A frame as WLED's sound sync (version 2) takes it over UDP, packed and little-endian: the header
// "00002" and its NUL, two bytes of padding, float sampleRaw (8) and sampleSmth (12), u8 samplePeak
// (16, 1 on a beat) and frameCounter (17), the 16 bands (18..33), u16 zeroCrossingCount (34), float
// FFT_Magnitude (36) and FFT_MajorPeak (40).
[[nodiscard]] SoundSyncPacket soundSyncPacket(const SoundFrame& frame, std::uint8_t frameCounter);

} // namespace glowcast
