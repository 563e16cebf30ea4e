#include "adapters/dbus/mpris_watcher.h"

#include "core/covers/player_roster.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

#include <functional>
#include <utility>

namespace glowcast {

namespace {

constexpr int kCallTimeoutMs = 5'000;
constexpr qsizetype kMaximumComplaints = 32;
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

QString latin(const char* text)
{
    return QString::fromLatin1(text);
}

QString prefix()
{
    return QString::fromLatin1(kMprisBusPrefix.data(), static_cast<qsizetype>(kMprisBusPrefix.size()));
}

// The D-Bus type of a received value, for complaints.
QString signatureOf(const QVariant& value)
{
    if (value.metaType() == QMetaType::fromType<QDBusArgument>())
        return value.value<QDBusArgument>().currentSignature();
    if (const char* signature = QDBusMetaType::typeToSignature(value.metaType()))
        return latin(signature);
    return latin(value.typeName() != nullptr ? value.typeName() : "unknown");
}

std::optional<std::string> text(const QVariant& value, const QString& what, QStringList& complaints)
{
    if (value.metaType() == QMetaType::fromType<QString>())
        return value.toString().toStdString();
    complaints << what + QStringLiteral(" is not a text (its type is ") + signatureOf(value) + u')';
    return std::nullopt;
}

// xesam:artist is a list of names; some players send one name as a text.
std::string names(const QVariant& value, QStringList& complaints)
{
    if (value.metaType() == QMetaType::fromType<QStringList>())
        return value.toStringList().join(QStringLiteral(", ")).toStdString();
    if (value.metaType() == QMetaType::fromType<QDBusArgument>() &&
        value.value<QDBusArgument>().currentSignature() == QStringLiteral("as"))
        return qdbus_cast<QStringList>(value.value<QDBusArgument>()).join(QStringLiteral(", ")).toStdString();
    return text(value, QStringLiteral("xesam:artist"), complaints).value_or("");
}

std::optional<QVariantMap> dictionary(const QVariant& value)
{
    if (value.metaType() != QMetaType::fromType<QDBusArgument>())
        return std::nullopt;
    const auto argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QStringLiteral("a{sv}"))
        return std::nullopt;
    return qdbus_cast<QVariantMap>(argument);
}

} // namespace

PlayerUpdate playerUpdateFromProperties(const QVariantMap& properties, QStringList& complaints)
{
    PlayerUpdate update;
    if (const auto identity = properties.find(QStringLiteral("Identity")); identity != properties.end())
        update.identity = text(*identity, QStringLiteral("Identity"), complaints);
    if (const auto status = properties.find(QStringLiteral("PlaybackStatus")); status != properties.end()) {
        if (const auto value = text(*status, QStringLiteral("PlaybackStatus"), complaints)) {
            update.status = playbackStatusFromText(*value);
            if (update.status == PlaybackStatus::Unknown)
                complaints << QStringLiteral("PlaybackStatus is neither Playing, Paused nor Stopped");
        }
    }
    const auto metadata = properties.find(QStringLiteral("Metadata"));
    if (metadata == properties.end())
        return update;
    const std::optional<QVariantMap> members = dictionary(*metadata);
    if (!members) {
        complaints << QStringLiteral("Metadata is not a dictionary (its type is ") + signatureOf(*metadata) + u')';
        return update;
    }
    TrackMetadata track;
    if (const auto id = members->find(QStringLiteral("mpris:trackid")); id != members->end()) {
        // An object path by the interface's rules; some players send a text.
        if (id->metaType() == QMetaType::fromType<QDBusObjectPath>())
            track.trackId = id->value<QDBusObjectPath>().path().toStdString();
        else
            track.trackId = text(*id, QStringLiteral("mpris:trackid"), complaints).value_or("");
    }
    if (const auto title = members->find(QStringLiteral("xesam:title")); title != members->end())
        track.title = text(*title, QStringLiteral("xesam:title"), complaints).value_or("");
    if (const auto artist = members->find(QStringLiteral("xesam:artist")); artist != members->end())
        track.artist = names(*artist, complaints);
    if (const auto album = members->find(QStringLiteral("xesam:album")); album != members->end())
        track.album = text(*album, QStringLiteral("xesam:album"), complaints).value_or("");
    if (const auto url = members->find(QStringLiteral("xesam:url")); url != members->end())
        track.url = text(*url, QStringLiteral("xesam:url"), complaints).value_or("");
    if (const auto art = members->find(QStringLiteral("mpris:artUrl")); art != members->end())
        track.artUrl = text(*art, QStringLiteral("mpris:artUrl"), complaints);
    update.metadata = std::move(track);
    return update;
}

MprisWatcher::MprisWatcher(PlayerEvents& events, Log& log, QDBusConnection connection)
    : m_events(events), m_log(log), m_connection(std::move(connection))
{
}

bool MprisWatcher::start()
{
    if (!m_connection.isConnected()) {
        m_log.write("players: not connected to the session bus (" + m_connection.lastError().message().toStdString() +
                    "); no media player will be followed");
        return false;
    }
    // A name pattern ending in "*" asks the bus for the players' names only.
    m_watcher.setConnection(m_connection);
    m_watcher.setWatchMode(QDBusServiceWatcher::WatchForOwnerChange);
    m_watcher.setWatchedServices({prefix().chopped(1) + u'*'});
    connect(&m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &MprisWatcher::ownerChanged);
    if (!m_connection.connect(QString(), latin(mpris::kPath), kProperties, QStringLiteral("PropertiesChanged"), this,
                              SLOT(propertiesChanged(QDBusMessage))))
        m_log.write("players: could not subscribe to the players' property changes (" +
                    m_connection.lastError().message().toStdString() + "); new covers will not be seen");
    call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListNames")),
         [this](const QDBusMessage& reply) {
             if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
                 m_log.write("players: the bus did not list its names (" + reply.errorMessage().toStdString() + ")");
                 return;
             }
             for (const QString& name : reply.arguments().constFirst().toStringList())
                 if (name.startsWith(prefix()))
                     found(name);
         });
    return true;
}

void MprisWatcher::ownerChanged(const QString& name, const QString& oldOwner, const QString& newOwner)
{
    if (!name.startsWith(prefix()))
        return;
    if (!oldOwner.isEmpty())
        forget(name);
    if (!newOwner.isEmpty()) {
        found(name);
        m_players[name].owner = newOwner;
    }
}

void MprisWatcher::found(const QString& name)
{
    if (m_players.contains(name))
        return;
    m_players.insert(name, Player{});
    query(name);
}

void MprisWatcher::forget(const QString& name)
{
    const auto player = m_players.find(name);
    if (player == m_players.end())
        return;
    const bool reported = player->reported;
    m_players.erase(player);
    if (reported)
        m_events.playerVanished(name.toStdString());
}

void MprisWatcher::query(const QString& name)
{
    QDBusMessage identity =
        QDBusMessage::createMethodCall(name, latin(mpris::kPath), kProperties, QStringLiteral("Get"));
    identity << latin(mpris::kRootInterface) << QStringLiteral("Identity");
    // The Identity first, so that a player the user ignores by it is never followed for a moment.
    call(identity, [this, name](const QDBusMessage& reply) {
        if (!m_players.contains(name))
            return;
        QVariantMap properties;
        if (reply.type() == QDBusMessage::ReplyMessage && reply.signature() == QStringLiteral("v"))
            properties.insert(QStringLiteral("Identity"),
                              reply.arguments().constFirst().value<QDBusVariant>().variant());
        QDBusMessage all =
            QDBusMessage::createMethodCall(name, latin(mpris::kPath), kProperties, QStringLiteral("GetAll"));
        all << latin(mpris::kPlayerInterface);
        call(all, [this, name, properties](const QDBusMessage& answer) mutable {
            const auto player = m_players.find(name);
            if (player == m_players.end())
                return;
            if (answer.type() != QDBusMessage::ReplyMessage || answer.signature() != QStringLiteral("a{sv}"))
                m_log.write("players: " + name.toStdString() + " did not tell its state (" +
                            (answer.type() == QDBusMessage::ReplyMessage
                                 ? "it answered with (" + answer.signature().toStdString() + ")"
                                 : answer.errorMessage().toStdString()) +
                            ")");
            else
                properties.insert(qdbus_cast<QVariantMap>(answer.arguments().constFirst()));
            if (player->owner.isEmpty())
                player->owner = answer.service();
            player->reported = true;
            report(name, properties);
        });
    });
}

void MprisWatcher::call(const QDBusMessage& message, std::function<void(const QDBusMessage&)> answered)
{
    ++m_unanswered;
    auto* watcher = new QDBusPendingCallWatcher(m_connection.asyncCall(message, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, answered = std::move(answered)] {
        watcher->deleteLater();
        --m_unanswered;
        answered(watcher->reply());
    });
}

void MprisWatcher::propertiesChanged(const QDBusMessage& message)
{
    QStringList names;
    for (auto player = m_players.cbegin(); player != m_players.cend(); ++player)
        if (player->reported && player->owner == message.service())
            names << player.key();
    if (names.isEmpty())
        return; // not a player, or one whose state is still being read
    if (message.signature() != QStringLiteral("sa{sv}as")) {
        for (const QString& name : names)
            if (!m_players[name].complaints.contains(QStringLiteral("signature"))) {
                m_players[name].complaints.insert(QStringLiteral("signature"));
                m_log.write("players: " + name.toStdString() + " sent a PropertiesChanged with the arguments (" +
                            message.signature().toStdString() + "), not (sa{sv}as); ignored");
            }
        return;
    }
    const QString interface = message.arguments().at(0).toString();
    const bool root = interface == latin(mpris::kRootInterface);
    if (!root && interface != latin(mpris::kPlayerInterface))
        return;
    QVariantMap changed = qdbus_cast<QVariantMap>(message.arguments().at(1));
    const QStringList invalidated = message.arguments().at(2).toStringList();
    for (auto member = changed.begin(); member != changed.end();) {
        const bool wanted =
            root ? member.key() == QStringLiteral("Identity")
                 : member.key() == QStringLiteral("PlaybackStatus") || member.key() == QStringLiteral("Metadata");
        member = wanted ? std::next(member) : changed.erase(member);
    }
    for (const QString& name : names) {
        if (!root && (invalidated.contains(QStringLiteral("Metadata")) ||
                      invalidated.contains(QStringLiteral("PlaybackStatus")))) {
            // Changed without the new value: read the state again.
            query(name);
        }
        if (!changed.isEmpty())
            report(name, changed);
    }
}

void MprisWatcher::report(const QString& name, const QVariantMap& properties)
{
    QStringList complaints;
    const PlayerUpdate update = playerUpdateFromProperties(properties, complaints);
    Player& player = m_players[name];
    for (const QString& complaint : complaints)
        // Each fault once, and only so many: a player could vary its faults without end.
        if (player.complaints.size() < kMaximumComplaints && !player.complaints.contains(complaint)) {
            player.complaints.insert(complaint);
            m_log.write("players: " + name.toStdString() + ": " + complaint.toStdString() + "; left out");
        }
    if (update != PlayerUpdate{})
        m_events.playerChanged(name.toStdString(), update);
}

} // namespace glowcast
