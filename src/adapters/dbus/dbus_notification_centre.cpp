#include "adapters/dbus/dbus_notification_centre.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QVariantMap>

#include <chrono>
#include <utility>

namespace glowcast {

namespace {

QString fromLatin(const char* text)
{
    return QString::fromLatin1(text);
}

// The D-Bus type of a received variant's value, for log lines.
std::string signatureOf(const QVariant& value)
{
    if (value.metaType() == QMetaType::fromType<QDBusArgument>())
        return value.value<QDBusArgument>().currentSignature().toStdString();
    if (value.metaType() == QMetaType::fromType<QDBusVariant>())
        return "v";
    if (const char* signature = QDBusMetaType::typeToSignature(value.metaType()))
        return signature;
    return value.metaType().name() != nullptr ? value.metaType().name() : "unknown";
}

std::string inQuotes(const QString& text)
{
    return "\"" + text.toStdString() + "\"";
}

} // namespace

std::optional<Notification> notificationFromMessage(const QDBusMessage& message, Log& log)
{
    const QString signature = message.signature();
    if (signature != fromLatin(distributed_notifications::kSignature)) {
        log.write("notifications: ignored a Posted signal whose arguments are (" + signature.toStdString() +
                  "), not (" + distributed_notifications::kSignature + ")");
        return std::nullopt;
    }
    const QList<QVariant> arguments = message.arguments();
    Notification notification;
    notification.name = arguments.at(0).toString().toStdString();
    notification.object = arguments.at(1).toString().toStdString();
    const QDBusArgument userInfo = arguments.at(2).value<QDBusArgument>();

    const std::string where = "notifications: " + inQuotes(arguments.at(0).toString()) + " from " +
                              inQuotes(arguments.at(1).toString()) + ": member ";
    userInfo.beginMap();
    while (!userInfo.atEnd()) {
        QString key;
        QDBusVariant boxed;
        userInfo.beginMapEntry();
        userInfo >> key >> boxed;
        userInfo.endMapEntry();
        const QVariant value = boxed.variant();
        if (value.metaType() != QMetaType::fromType<QByteArray>()) {
            log.write(where + inQuotes(key) + " is not a byte array (its type is " + signatureOf(value) + "); dropped");
            continue;
        }
        const QByteArray bytes = value.toByteArray();
        notification.userInfo.insert_or_assign(
            key.toStdString(),
            std::vector<std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                      reinterpret_cast<const std::uint8_t*>(bytes.constData()) + bytes.size()));
    }
    userInfo.endMap();
    return notification;
}

DBusNotificationCentre::DBusNotificationCentre(Log& log, QDBusConnection connection)
    : m_log(log), m_connection(std::move(connection))
{
}

void DBusNotificationCentre::addObserver(std::string name, std::string object,
                                         std::function<void(const Notification&)> handler)
{
    m_observers.push_back({std::move(name), std::move(object), std::move(handler)});
    if (m_listening)
        return;
    if (!m_connection.isConnected()) {
        m_log.write("notifications: not connected to the session bus (" +
                    m_connection.lastError().message().toStdString() + "); no notification will arrive");
        return;
    }
    // No signature in the match, so that a signal with the wrong arguments reaches posted() and is
    // logged there rather than dropped without a word.
    m_listening = m_connection.connect(QString(), fromLatin(distributed_notifications::kPath),
                                       fromLatin(distributed_notifications::kInterface),
                                       fromLatin(distributed_notifications::kSignal), this, SLOT(posted(QDBusMessage)));
    if (!m_listening) {
        m_log.write("notifications: could not subscribe to " + std::string{distributed_notifications::kInterface} +
                    "." + distributed_notifications::kSignal + " (" + m_connection.lastError().message().toStdString() +
                    "); no notification will arrive");
        return;
    }
    // The subscription's match rule goes to the bus without waiting for an answer. The bus handles
    // one connection's messages in order, so once this call returns the rule is in force, and a
    // cover posted after the first registration is never missed.
    const QDBusMessage reply = m_connection.call(
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping")),
        QDBus::Block, 5'000);
    if (reply.type() != QDBusMessage::ReplyMessage)
        m_log.write("notifications: the session bus did not confirm the subscription (" +
                    reply.errorMessage().toStdString() + "); covers posted at once may be missed");
}

void DBusNotificationCentre::posted(const QDBusMessage& message)
{
    const std::optional<Notification> notification = notificationFromMessage(message, m_log);
    if (!notification)
        return;
    // By index: an observer may register another while it runs.
    for (std::size_t index = 0; index < m_observers.size(); ++index) {
        if (m_observers[index].name != notification->name || m_observers[index].object != notification->object)
            continue;
        const auto handler = m_observers[index].handler;
        handler(*notification);
    }
}

Outcome postNotification(const QDBusConnection& connection, const Notification& notification)
{
    std::size_t total = 0;
    for (const auto& [key, bytes] : notification.userInfo)
        total += key.size() + bytes.size();
    if (total > distributed_notifications::kMaximumUserInfoBytes)
        return {Failure::NotSent, "the user information holds " + std::to_string(total) +
                                      " bytes; the session bus carries at most " +
                                      std::to_string(distributed_notifications::kMaximumUserInfoBytes)};
    if (!connection.isConnected())
        return {Failure::NotSent,
                "not connected to the session bus: " + connection.lastError().message().toStdString()};

    QVariantMap userInfo;
    for (const auto& [key, bytes] : notification.userInfo)
        userInfo.insert(QString::fromStdString(key),
                        QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
    QDBusMessage signal = QDBusMessage::createSignal(fromLatin(distributed_notifications::kPath),
                                                     fromLatin(distributed_notifications::kInterface),
                                                     fromLatin(distributed_notifications::kSignal));
    signal << QString::fromStdString(notification.name) << QString::fromStdString(notification.object) << userInfo;
    if (!connection.send(signal))
        return {Failure::NotSent,
                "the bus refused the notification: " + connection.lastError().message().toStdString()};

    // Messages on one connection leave in order: once the bus answers this call, it has the signal.
    const QDBusMessage ping =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
    const QDBusMessage reply = connection.call(ping, QDBus::Block, 30'000);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return {Failure::NotSent, "the bus did not confirm the notification: " + reply.errorMessage().toStdString()};
    return {};
}

void NotifiedCoverFeed::follow(std::function<void(const CoverArrival&)> handler)
{
    m_centre.addObserver(cover_notification::kName, cover_notification::kObject,
                         [handler = std::move(handler)](const Notification& notification) {
                             const auto cover = notification.userInfo.find(cover_notification::kCoverKey);
                             // The delay counts from here: the notice may wait behind a running operation.
                             handler(
                                 {cover != notification.userInfo.end() ? cover->second : std::vector<std::uint8_t>{},
                                  notification.object, false, std::chrono::steady_clock::now()});
                         });
}

} // namespace glowcast
