#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace glowcast {

// One UDP datagram to a host's port, sent at once. Never blocks; a datagram that cannot leave (a host
// that does not resolve, no route) is lost as UDP loses it, told at most once per host in the log.
class DatagramSender {
public:
    virtual ~DatagramSender() = default;
    virtual void send(std::string_view host, std::uint16_t port, std::span<const std::uint8_t> bytes) = 0;
};

} // namespace glowcast
