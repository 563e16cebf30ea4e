#pragma once

#include <optional>
#include <string>

namespace glowcast {

enum class PlaybackStatus { Unknown, Playing, Paused, Stopped };

// The members of a player's track metadata that Glowcast reads. No art URL is not the same as an
// empty one: both give no cover, but the log tells them apart.
struct TrackMetadata {
    std::string trackId;
    std::string title;
    std::string url;
    std::optional<std::string> artUrl;
    std::string artist{}; // xesam:artist's names joined by ", "
    std::string album{};
    friend bool operator==(const TrackMetadata&, const TrackMetadata&) = default;
};

// What a player published in one message: only the members it carried are set.
struct PlayerUpdate {
    std::optional<std::string> identity;
    std::optional<PlaybackStatus> status;
    std::optional<TrackMetadata> metadata;
    friend bool operator==(const PlayerUpdate&, const PlayerUpdate&) = default;
};

// The media players on the desktop, as whoever watches them reports them. A player is known by its
// bus name; the first update of a name makes it known and vanished() forgets it. Calls come on the
// main thread, in the order the players sent them.
class PlayerEvents {
public:
    virtual ~PlayerEvents() = default;
    virtual void playerChanged(const std::string& busName, const PlayerUpdate& update) = 0;
    virtual void playerVanished(const std::string& busName) = 0;
};

} // namespace glowcast
