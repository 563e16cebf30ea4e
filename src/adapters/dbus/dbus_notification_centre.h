#pragma once

#include "adapters/dbus/notification_centre.h"
#include "core/ports/cover_feed.h"
#include "core/ports/log.h"
#include "core/text/outcome.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace glowcast {

// How a distributed notification travels on the session bus: a broadcast signal, no destination,
//
//   object path  /org/glowcast/Notifications
//   interface    org.glowcast.DistributedNotifications
//   signal       Posted (s name, s object, a{sv} userInfo)
//
// Every program on the bus may post one and every program may listen. The user information's
// members are variants; the ones carried to observers are byte arrays ("ay"), such as the cover.
namespace distributed_notifications {
inline constexpr const char* kPath = "/org/glowcast/Notifications";
inline constexpr const char* kInterface = "org.glowcast.DistributedNotifications";
inline constexpr const char* kSignal = "Posted";
inline constexpr const char* kSignature = "ssa{sv}";
// The bus carries no array longer than 64 MiB, and the user information is one array holding every
// member; this leaves room for the keys and the framing.
inline constexpr std::size_t kMaximumUserInfoBytes = 60 * 1024 * 1024;
} // namespace distributed_notifications

// The notification the cover application posts whenever the cover that is showing changes, with the
// bytes of the cover's image file under the key.
namespace cover_notification {
inline constexpr const char* kName = "CoverdeckAlbumCoverChanged";
inline constexpr const char* kObject = "Coverdeck";
inline constexpr const char* kCoverKey = "cover";
} // namespace cover_notification

// The covers of the cover application's notifications on a centre: each one is a cover from its
// object, with the bytes under the key (none when it has no such member). Follows the centre only
// once it is followed itself.
class NotifiedCoverFeed final : public CoverFeed {
public:
    explicit NotifiedCoverFeed(NotificationCentre& centre) : m_centre(centre) {}
    void follow(std::function<void(const CoverArrival&)> handler) override;

private:
    NotificationCentre& m_centre;
};

// The notification in a received Posted signal. Nothing, with a log line, when the arguments are not
// (text, text, dictionary of variants); members that are not byte arrays are dropped, each with a
// log line, and the rest is delivered.
[[nodiscard]] std::optional<Notification> notificationFromMessage(const QDBusMessage& message, Log& log);

// The notification centre on a D-Bus connection (the session bus in the program). It subscribes to
// Posted signals when the first observer registers, and calls the observers on the connection's
// thread as each signal arrives. It keeps no queue of its own: in the program its one observer is
// the queued centre, which only hands each notification to the operation queue and never waits.
class DBusNotificationCentre final : public QObject, public NotificationCentre {
    Q_OBJECT
public:
    DBusNotificationCentre(Log& log, QDBusConnection connection);

    void addObserver(std::string name, std::string object, std::function<void(const Notification&)> handler) override;

    // True once the subscription to the bus is in place.
    [[nodiscard]] bool isListening() const { return m_listening; }

private Q_SLOTS:
    void posted(const QDBusMessage& message);

private:
    struct Observer {
        std::string name;
        std::string object;
        std::function<void(const Notification&)> handler;
    };

    Log& m_log;
    QDBusConnection m_connection;
    std::vector<Observer> m_observers;
    bool m_listening = false;
};

// Broadcasts notification as a Posted signal and waits until the bus has taken it, so that a program
// may exit right after. User information over the bus's limit is refused without sending anything.
// Fails with NotSent and the reason.
[[nodiscard]] Outcome postNotification(const QDBusConnection& connection, const Notification& notification);

} // namespace glowcast
