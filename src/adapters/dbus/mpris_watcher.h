#pragma once

#include "core/ports/log.h"
#include "core/ports/player_events.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QVariantMap>

namespace glowcast {

// The media players' interface on the session bus: each player owns a name under kMprisBusPrefix and
// serves kPlayerInterface and kRootInterface at kPath.
namespace mpris {
inline constexpr const char* kPath = "/org/mpris/MediaPlayer2";
inline constexpr const char* kRootInterface = "org.mpris.MediaPlayer2";
inline constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";
} // namespace mpris

// What a player's properties (PlaybackStatus, Metadata, Identity) say, as far as their types are
// right. Each member of the wrong type is left out with a complaint (one line of text each).
[[nodiscard]] PlayerUpdate playerUpdateFromProperties(const QVariantMap& properties, QStringList& complaints);

// Watches the session bus for media players and reports them to events: those already there
// (ListNames) and those that come and go (NameOwnerChanged, through a service watcher), each first
// reported once its Identity, PlaybackStatus and Metadata have been read, then every PropertiesChanged
// it sends. Every call is asynchronous with a time-out, so a player that never answers holds nothing
// up. Malformed properties are logged once per player and kind of fault, so that a flood does not
// flood the log.
class MprisWatcher final : public QObject {
    Q_OBJECT
public:
    MprisWatcher(PlayerEvents& events, Log& log, QDBusConnection connection);

    // Subscribes and asks for the players there. False, with a log line, without a bus.
    bool start();
    // Calls still unanswered: none once every player found at start has been reported.
    [[nodiscard]] int unanswered() const { return m_unanswered; }

private Q_SLOTS:
    void ownerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);
    void propertiesChanged(const QDBusMessage& message);

private:
    struct Player {
        QString owner;
        bool reported = false;
        QSet<QString> complaints;
    };

    void found(const QString& name);
    void forget(const QString& name);
    void query(const QString& name);
    void call(const QDBusMessage& message, std::function<void(const QDBusMessage&)> answered);
    void report(const QString& name, const QVariantMap& properties);

    PlayerEvents& m_events;
    Log& m_log;
    QDBusConnection m_connection;
    QDBusServiceWatcher m_watcher;
    QHash<QString, Player> m_players; // by bus name
    int m_unanswered = 0;
};

} // namespace glowcast
