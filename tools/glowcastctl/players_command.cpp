// glowcastctl players: the media players on the session bus as Glowcast sees them, and the one it
// would follow now.

#include "glowcastctl/commands.h"

#include "adapters/dbus/mpris_watcher.h"
#include "adapters/files/file_preferences.h"
#include "adapters/qt/program_command_line.h"
#include "core/covers/art_url.h"
#include "core/covers/cover_follower.h"
#include "core/covers/player_roster.h"
#include "core/settings/settings.h"
#include "core/text/log_text.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDeadlineTimer>

#include <cstdio>

namespace glowcast::ctl {

namespace {

class RosterEvents final : public PlayerEvents {
public:
    explicit RosterEvents(PlayerRoster& roster) : m_roster(roster) {}
    void playerChanged(const std::string& busName, const PlayerUpdate& update) override
    {
        (void)m_roster.update(busName, update);
    }
    void playerVanished(const std::string& busName) override { (void)m_roster.remove(busName); }

private:
    PlayerRoster& m_roster;
};

} // namespace

int runPlayers(Arguments args)
{
    ProgramCommandLine line(QStringLiteral("glowcastctl players"),
                            QStringLiteral("Lists the media players on the session bus: their status, track and art "
                                           "URL,\nand marks with * the one Glowcast would follow now (a player found "
                                           "playing\nfirst counts as having started first)."));
    line.addVerboseOption();
    if (const std::optional<int> status = line.parse(args, 0, 0))
        return *status;
    int argc = 1;
    char name[] = "glowcastctl";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    CommandLog log(line.verbose());
    FilePreferences preferences(log, FilePreferences::defaultDirectory());
    const Settings settings(preferences, log);
    const bool enabled = settings.flag(kFollowPlayersKey);
    PlayerRoster roster(settings.list(kIgnorePlayersKey));
    RosterEvents events(roster);
    MprisWatcher watcher(events, log, QDBusConnection::sessionBus());
    if (!watcher.start()) {
        std::fprintf(stderr, "glowcastctl players: cannot watch the session bus for media players\n");
        return 1;
    }
    // Every call has its own time-out; this only bounds the whole.
    const QDeadlineTimer deadline(10'000);
    while (watcher.unanswered() > 0 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);

    const PlayerState* followed = enabled ? roster.followed() : nullptr;
    for (const PlayerState& player : roster.players()) {
        const TrackMetadata track = player.metadata.value_or(TrackMetadata{});
        std::printf("%s %s%s%s: %s%s\n", &player == followed ? "*" : " ", player.busName.c_str(),
                    player.identity.empty() ? "" : (" (" + printable(player.identity, 80) + ")").c_str(),
                    player.ignored ? " [ignored]" : "", std::string{playbackStatusText(player.status)}.c_str(),
                    track.title.empty() ? "" : (", \"" + printable(track.title, 120) + "\"").c_str());
        std::printf("    art: %s\n", track.artUrl ? printable(*track.artUrl).c_str() : "(none)");
    }
    if (!enabled)
        std::printf("Following media players is turned off (\"%s\": false in %s).\n", kFollowPlayersKey.data(),
                    preferences.filePath().c_str());
    else if (followed == nullptr)
        std::printf(roster.players().empty() ? "No media player is on the session bus.\n"
                                             : "Glowcast would follow none of them: none is playing.\n");
    return 0;
}

} // namespace glowcast::ctl
