#include "core/beat/sound_sync_packet.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>

namespace glowcast {

namespace {

static_assert(std::numeric_limits<float>::is_iec559 && sizeof(float) == 4, "the packet carries IEEE 754 floats");

constexpr std::string_view kHeader{"00002\0", 6};

// Byte by byte, lowest first, so that the packet reads the same from a host of either byte order.
void put(SoundSyncPacket& packet, std::size_t at, std::uint32_t value, std::size_t bytes)
{
    for (std::size_t i = 0; i < bytes; ++i)
        packet[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void putFloat(SoundSyncPacket& packet, std::size_t at, float value)
{
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    put(packet, at, bits, 4);
}

} // namespace

SoundSyncPacket soundSyncPacket(const SoundFrame& frame, std::uint8_t frameCounter)
{
    SoundSyncPacket packet{};
    std::ranges::copy(kHeader, packet.begin());
    putFloat(packet, 8, frame.level);
    putFloat(packet, 12, frame.smoothLevel);
    packet[16] = frame.beat ? 1 : 0;
    packet[17] = frameCounter;
    std::ranges::copy(frame.bands, packet.begin() + 18);
    put(packet, 34, frame.zeroCrossings, 2);
    putFloat(packet, 36, frame.peakMagnitude);
    putFloat(packet, 40, frame.majorPeakHz);
    return packet;
}

} // namespace glowcast
