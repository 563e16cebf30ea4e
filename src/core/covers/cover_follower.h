#pragma once

#include "core/covers/art_url.h"
#include "core/covers/player_roster.h"
#include "core/ports/art_fetcher.h"
#include "core/ports/clock.h"
#include "core/ports/cover_image.h"
#include "core/ports/cover_sink.h"
#include "core/ports/follower_view.h"
#include "core/ports/log.h"
#include "core/ports/player_events.h"
#include "core/ports/scheduler.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace glowcast {

// The preferences that fill FollowerOptions: a JSON boolean and a JSON list of texts.
inline constexpr std::string_view kFollowPlayersKey = "followplayers";
inline constexpr std::string_view kIgnorePlayersKey = "ignoreplayers";

// Whether to follow the media players, and which ones to leave alone (see isIgnoredPlayer).
struct FollowerOptions {
    bool enabled = true;
    std::vector<std::string> ignored;
    friend bool operator==(const FollowerOptions&, const FollowerOptions&) = default;
};

// The waits before reading a missing cover file again: about two seconds in all, short at first,
// since a player usually writes the file a moment after it names it.
inline constexpr std::array<std::chrono::milliseconds, 8> kMissingFileRetries{
    std::chrono::milliseconds{25},  std::chrono::milliseconds{50},  std::chrono::milliseconds{100},
    std::chrono::milliseconds{200}, std::chrono::milliseconds{300}, std::chrono::milliseconds{325},
    std::chrono::milliseconds{500}, std::chrono::milliseconds{500}};

// Follows the media players: turns every new cover of the followed player into one cover for the sink,
// as soon as it is known and heard: a track that is new while its player is paused or stopped waits
// until the player plays (a track skipped before that sends nothing), and is heard then. Each change of the followed
// player's metadata (or of the player followed) reads its art URL afresh and drops whatever read was still running for
// an older one; a missing file is read again for about two seconds. A cover is sent only when its bytes are an image
// and differ from the last one sent; no art, bad art, pausing and stopping send nothing. Every cover not sent is logged
// with the reason. All calls on the main thread; the sink may run a whole cover change and let player events in
// meanwhile, which is safe: nothing is done after the sink returns.
class CoverFollower final : public PlayerEvents {
public:
    CoverFollower(FollowerOptions options, ArtFetcher& fetcher, CoverSniffer& sniffer, CoverSink& sink,
                  Scheduler& scheduler, Clock& clock, Log& log, FollowerView* view = nullptr);
    CoverFollower(const CoverFollower&) = delete;
    CoverFollower& operator=(const CoverFollower&) = delete;

    void playerChanged(const std::string& busName, const PlayerUpdate& update) override;
    void playerVanished(const std::string& busName) override;

    // Reads the followed player's cover again and sends it even when it is the last one sent: the
    // lamps no longer show it.
    void sendAgain();

    [[nodiscard]] FollowerStatus status() const;
    [[nodiscard]] const PlayerRoster& roster() const { return m_roster; }

private:
    void react(PlayerRoster::Change change);
    // Reads the followed player's cover once it plays.
    void readWhenPlaying();
    void readCover();
    void startRead(const ArtSource& source, std::uint64_t generation);
    void fetched(std::uint64_t generation, ArtFetchResult result);
    void deliver(std::vector<std::uint8_t> bytes);
    void refreshView();
    void say(const std::string& line);

    FollowerOptions m_options;
    ArtFetcher& m_fetcher;
    CoverSniffer& m_sniffer;
    CoverSink& m_sink;
    Scheduler& m_scheduler;
    Clock& m_clock;
    Log& m_log;
    FollowerView* m_view;
    PlayerRoster m_roster;

    // Counts the covers wanted; a read or a retry that belongs to an older one is dropped.
    std::uint64_t m_generation = 0;
    bool m_reading = false;
    // The followed player's track is new, but the player does not play it yet.
    bool m_waitingToPlay = false;
    // When the wanted cover was heard: its track new while playing, or its player starting to play it.
    SteadyTime m_heard{};
    std::size_t m_retries = 0;
    std::string m_wantedFrom; // the followed player and its art URL, shortened, for log lines
    // The cover sent last, by its bytes' size and hash: the lamps show it.
    std::size_t m_sentSize = 0;
    std::size_t m_sentHash = 0;
    FollowerStatus m_shown;
};

} // namespace glowcast
