#pragma once

#include "core/ports/player_events.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace glowcast {

inline constexpr std::string_view kMprisBusPrefix = "org.mpris.MediaPlayer2.";

[[nodiscard]] std::string_view playbackStatusText(PlaybackStatus status);
// "Playing", "Paused" or "Stopped" as players spell them; anything else is Unknown.
[[nodiscard]] PlaybackStatus playbackStatusFromText(std::string_view text);

// Whether the user asked to leave a player alone: an entry matches the bus name's part after
// "org.mpris.MediaPlayer2." (or its first dotted part, so "vlc" matches "vlc.instance42") or the
// player's Identity, without regard to case.
[[nodiscard]] bool isIgnoredPlayer(std::string_view busName, std::string_view identity,
                                   const std::vector<std::string>& ignored);

struct PlayerState {
    std::string busName;
    std::string identity;
    PlaybackStatus status = PlaybackStatus::Unknown;
    std::optional<TrackMetadata> metadata;
    // The order in which players started playing, counted from 1; 0 for one not seen starting.
    std::uint64_t startedPlaying = 0;
    bool ignored = false;
    friend bool operator==(const PlayerState&, const PlayerState&) = default;
};

// The players on the bus and which one to follow: the one playing, the one that started playing last
// when several are, and when none is, the last one that played. Ignored players are never followed.
// Texts are kept short: a player may send anything.
class PlayerRoster {
public:
    explicit PlayerRoster(std::vector<std::string> ignored = {}) : m_ignored(std::move(ignored)) {}

    // What an event changed for whoever follows the followed player.
    struct Change {
        bool followedChanged = false;
        bool followedTrackChanged = false;   // the followed player published different metadata
        bool followedStartedPlaying = false; // the followed player, still the one, began to play
    };
    Change update(const std::string& busName, const PlayerUpdate& update);
    Change remove(const std::string& busName);

    // Null when no player is followed. Valid until the next update or remove.
    [[nodiscard]] const PlayerState* followed() const;
    // In the order the players became known.
    [[nodiscard]] const std::vector<PlayerState>& players() const { return m_players; }

private:
    [[nodiscard]] std::string chooseFollowed() const;

    std::vector<std::string> m_ignored;
    std::vector<PlayerState> m_players;
    std::string m_followed;
    std::uint64_t m_starts = 0;
};

} // namespace glowcast
