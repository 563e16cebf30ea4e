#pragma once

#include "core/ports/clock.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace glowcast {

// The track a cover belongs to, as its media player told it; all empty for the cover application's
// notice, which tells none.
struct CoverTrack {
    std::string title;
    std::string artist; // several artists joined by ", "
    std::string album;
    friend bool operator==(const CoverTrack&, const CoverTrack&) = default;
};

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
    CoverTrack track{};
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
