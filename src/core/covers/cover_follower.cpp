#include "core/covers/cover_follower.h"

#include "core/text/log_text.h"

#include <functional>
#include <string_view>
#include <utility>

namespace glowcast {

namespace {

std::string track(const TrackMetadata& metadata)
{
    return metadata.title.empty() ? std::string{"its track"} : "\"" + printable(metadata.title, 80) + "\"";
}

} // namespace

CoverFollower::CoverFollower(FollowerOptions options, ArtFetcher& fetcher, CoverSniffer& sniffer, CoverSink& sink,
                             Scheduler& scheduler, Clock& clock, Log& log, FollowerView* view)
    : m_options(std::move(options)), m_fetcher(fetcher), m_sniffer(sniffer), m_sink(sink), m_scheduler(scheduler),
      m_clock(clock), m_log(log), m_view(view), m_roster(m_options.ignored)
{
    m_shown.enabled = m_options.enabled;
    if (m_view != nullptr)
        m_view->showFollowed(m_shown);
}

void CoverFollower::playerChanged(const std::string& busName, const PlayerUpdate& update)
{
    if (m_options.enabled)
        react(m_roster.update(busName, update));
}

void CoverFollower::playerVanished(const std::string& busName)
{
    if (m_options.enabled)
        react(m_roster.remove(busName));
}

FollowerStatus CoverFollower::status() const
{
    FollowerStatus status;
    status.enabled = m_options.enabled;
    if (const PlayerState* player = m_roster.followed()) {
        status.busName = player->busName;
        status.identity = printable(player->identity, 80);
        status.status = player->status;
        if (player->metadata) {
            status.title = printable(player->metadata->title, 200);
            status.artUrl = printable(player->metadata->artUrl.value_or(""), 200);
        }
    }
    return status;
}

void CoverFollower::react(PlayerRoster::Change change)
{
    if (change.followedChanged) {
        const PlayerState* player = m_roster.followed();
        say(player == nullptr ? "players: no player to follow"
                              : "players: following " + player->busName +
                                    (player->identity.empty() ? "" : " (" + printable(player->identity, 80) + ")"));
    }
    // The window first: the sink may take a while.
    refreshView();
    if (change.followedChanged || change.followedTrackChanged)
        readWhenPlaying();
    else if (change.followedStartedPlaying && m_waitingToPlay)
        readCover();
}

void CoverFollower::readWhenPlaying()
{
    const PlayerState* player = m_roster.followed();
    if (player == nullptr || !player->metadata ||
        (player->status != PlaybackStatus::Paused && player->status != PlaybackStatus::Stopped)) {
        readCover();
        return;
    }
    // What was read for an older track is dropped: this one may be skipped before it plays.
    ++m_generation;
    if (std::exchange(m_reading, false))
        m_fetcher.cancel();
    m_waitingToPlay = true;
    say("players: " + player->busName + ": " + track(*player->metadata) + " is " +
        std::string{playbackStatusText(player->status)} + "; its cover waits until it plays");
}

void CoverFollower::sendAgain()
{
    m_sentSize = 0;
    m_sentHash = 0;
    readCover();
}

void CoverFollower::readCover()
{
    ++m_generation;
    m_waitingToPlay = false;
    m_heard = m_clock.now();
    if (m_reading) {
        m_fetcher.cancel();
        m_reading = false;
    }
    m_retries = 0;
    const PlayerState* player = m_roster.followed();
    if (player == nullptr || !player->metadata)
        return; // its metadata is still on the way
    const TrackMetadata& metadata = *player->metadata;
    if (!metadata.artUrl) {
        say("players: " + player->busName + " publishes no cover for " + track(metadata) +
            "; the lamps stay as they are");
        return;
    }
    m_wantedFrom = "players: " + player->busName + ": the cover " + printable(*metadata.artUrl);
    ArtSource source = parseArtUrl(*metadata.artUrl);
    if (const auto* refused = std::get_if<ArtRefused>(&source)) {
        say(m_wantedFrom + " is not read: " + refused->reason + "; the lamps stay as they are");
        return;
    }
    if (auto* data = std::get_if<ArtData>(&source)) {
        deliver(std::move(data->bytes));
        return;
    }
    startRead(source, m_generation);
}

void CoverFollower::startRead(const ArtSource& source, std::uint64_t generation)
{
    m_reading = true;
    auto done = [this, generation](ArtFetchResult result) { fetched(generation, std::move(result)); };
    if (const auto* file = std::get_if<ArtFile>(&source)) {
        m_fetcher.readFile(file->path, std::move(done));
        return;
    }
    m_fetcher.download(std::get<ArtHttp>(source).url, std::move(done));
}

void CoverFollower::fetched(std::uint64_t generation, ArtFetchResult result)
{
    if (generation != m_generation)
        return;
    m_reading = false;
    switch (result.kind) {
    case ArtFetchResult::Kind::Bytes:
        deliver(std::move(result.bytes));
        return;
    case ArtFetchResult::Kind::Missing:
        if (m_retries == kMissingFileRetries.size()) {
            say(m_wantedFrom + " did not appear within 2 s; the lamps stay as they are");
            return;
        }
        if (m_retries == 0)
            say(m_wantedFrom + " is not there yet; looking again for up to 2 s");
        m_scheduler.schedule(kMissingFileRetries[m_retries++], [this, generation] {
            const PlayerState* player = m_roster.followed();
            if (generation == m_generation && player != nullptr && player->metadata && player->metadata->artUrl)
                startRead(parseArtUrl(*player->metadata->artUrl), generation);
        });
        return;
    case ArtFetchResult::Kind::Failed:
        say(m_wantedFrom + " could not be read: " + result.reason + "; the lamps stay as they are");
        return;
    }
}

void CoverFollower::deliver(std::vector<std::uint8_t> bytes)
{
    const std::optional<std::string> format = m_sniffer.imageFormat(bytes);
    if (!format) {
        say(m_wantedFrom + " is not an image (" + std::to_string(bytes.size()) + " bytes); the lamps stay as they are");
        return;
    }
    const std::size_t hash =
        std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    if (bytes.size() == m_sentSize && hash == m_sentHash) {
        say(m_wantedFrom + " is the cover the lamps show already; nothing sent");
        return;
    }
    m_sentSize = bytes.size();
    m_sentHash = hash;
    say(m_wantedFrom + " is a " + *format + " of " + std::to_string(bytes.size()) + " bytes; sending it to the lamps");
    m_sink.coverChanged(std::move(bytes), m_heard);
}

void CoverFollower::refreshView()
{
    FollowerStatus now = status();
    if (now == m_shown)
        return;
    m_shown = std::move(now);
    if (m_view != nullptr)
        m_view->showFollowed(m_shown);
}

void CoverFollower::say(const std::string& line)
{
    m_log.write(line);
}

} // namespace glowcast
