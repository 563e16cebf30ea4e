#include "core/covers/player_roster.h"

#include "core/text/log_text.h"

#include <algorithm>

namespace glowcast {

namespace {

// Longer texts are cut: enough for any real title, and a flood of huge ones stays small.
constexpr std::size_t kMaximumTextBytes = 1024;

bool equalNoCase(std::string_view a, std::string_view b)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

std::string clipped(std::string_view text)
{
    return text.size() <= kMaximumTextBytes ? std::string{text} : printable(text, kMaximumTextBytes);
}

} // namespace

std::string_view playbackStatusText(PlaybackStatus status)
{
    switch (status) {
    case PlaybackStatus::Playing:
        return "Playing";
    case PlaybackStatus::Paused:
        return "Paused";
    case PlaybackStatus::Stopped:
        return "Stopped";
    case PlaybackStatus::Unknown:
        break;
    }
    return "Unknown";
}

PlaybackStatus playbackStatusFromText(std::string_view text)
{
    for (const PlaybackStatus status : {PlaybackStatus::Playing, PlaybackStatus::Paused, PlaybackStatus::Stopped})
        if (text == playbackStatusText(status))
            return status;
    return PlaybackStatus::Unknown;
}

bool isIgnoredPlayer(std::string_view busName, std::string_view identity, const std::vector<std::string>& ignored)
{
    const std::string_view suffix =
        busName.starts_with(kMprisBusPrefix) ? busName.substr(kMprisBusPrefix.size()) : busName;
    const std::string_view firstPart = suffix.substr(0, suffix.find('.'));
    return std::any_of(ignored.begin(), ignored.end(), [&](const std::string& entry) {
        return !entry.empty() &&
               (equalNoCase(entry, suffix) || equalNoCase(entry, firstPart) || equalNoCase(entry, identity));
    });
}

PlayerRoster::Change PlayerRoster::update(const std::string& busName, const PlayerUpdate& update)
{
    auto player = std::find_if(m_players.begin(), m_players.end(),
                               [&](const PlayerState& known) { return known.busName == busName; });
    if (player == m_players.end()) {
        m_players.emplace_back();
        m_players.back().busName = busName;
        player = std::prev(m_players.end());
        player->ignored = isIgnoredPlayer(busName, {}, m_ignored);
    }
    if (update.identity) {
        player->identity = clipped(*update.identity);
        player->ignored = isIgnoredPlayer(busName, player->identity, m_ignored);
    }
    bool started = false;
    if (update.status) {
        started = *update.status == PlaybackStatus::Playing && player->status != PlaybackStatus::Playing;
        if (started)
            player->startedPlaying = ++m_starts;
        player->status = *update.status;
    }
    bool trackChanged = false;
    if (update.metadata) {
        TrackMetadata metadata{clipped(update.metadata->trackId), clipped(update.metadata->title),
                               clipped(update.metadata->url),     update.metadata->artUrl,
                               clipped(update.metadata->artist),  clipped(update.metadata->album)};
        trackChanged = metadata != player->metadata;
        player->metadata = std::move(metadata);
    }
    const std::string chosen = chooseFollowed();
    Change change;
    change.followedChanged = chosen != m_followed;
    change.followedTrackChanged = !change.followedChanged && trackChanged && busName == m_followed;
    change.followedStartedPlaying = !change.followedChanged && started && busName == m_followed;
    m_followed = chosen;
    return change;
}

PlayerRoster::Change PlayerRoster::remove(const std::string& busName)
{
    std::erase_if(m_players, [&](const PlayerState& player) { return player.busName == busName; });
    const std::string chosen = chooseFollowed();
    Change change;
    change.followedChanged = chosen != m_followed;
    m_followed = chosen;
    return change;
}

const PlayerState* PlayerRoster::followed() const
{
    const auto found = std::find_if(m_players.begin(), m_players.end(),
                                    [&](const PlayerState& player) { return player.busName == m_followed; });
    return found == m_players.end() ? nullptr : &*found;
}

std::string PlayerRoster::chooseFollowed() const
{
    const PlayerState* best = nullptr;
    const auto rank = [](const PlayerState& player) {
        return std::pair{player.status == PlaybackStatus::Playing, player.startedPlaying};
    };
    for (const PlayerState& player : m_players)
        if (!player.ignored && (player.status == PlaybackStatus::Playing || player.startedPlaying > 0) &&
            (best == nullptr || rank(player) > rank(*best)))
            best = &player;
    return best != nullptr ? best->busName : std::string{};
}

} // namespace glowcast
