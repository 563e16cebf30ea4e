#pragma once

#include "core/ports/clock.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace glowcast {

// A new cover: the bytes of its image file (empty when its notice carried none) and where it came
// from, for the log.
struct CoverArrival {
    std::vector<std::uint8_t> bytes;
    std::string source;
    // A media player's cover, not the cover application's notice.
    bool fromPlayer = false;
    // When Glowcast heard of it: the notice received, or the player playing its track. Nothing: when
    // it is handled.
    std::optional<SteadyTime> heard = std::nullopt;
    friend bool operator==(const CoverArrival&, const CoverArrival&) = default;
};

// Where covers arrive. Once followed, the handler is called once per cover, as an operation of the
// one operation queue (see scheduler.h); nothing arrives before. Following twice delivers twice.
class CoverFeed {
public:
    virtual ~CoverFeed() = default;
    virtual void follow(std::function<void(const CoverArrival&)> handler) = 0;
};

} // namespace glowcast
