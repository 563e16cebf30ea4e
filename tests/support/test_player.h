#pragma once

// A media player of the tests' own on a session bus: it owns org.mpris.MediaPlayer2.<name>, answers
// Get and GetAll from the properties it was given and sends PropertiesChanged for each change, of any
// type the test likes, so that it can do what real players do only now and then.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QVariantMap>

namespace glowcast::testing {

class TestPlayer final : public QDBusVirtualObject {
public:
    TestPlayer(const QString& busAddress, const QString& name, const QVariantMap& player = {})
        : m_name(name), m_connection(QDBusConnection::connectToBus(busAddress, QStringLiteral("player-") + name)),
          m_player(player)
    {
        m_connection.registerVirtualObject(QStringLiteral("/org/mpris/MediaPlayer2"), this);
        m_connection.registerService(QStringLiteral("org.mpris.MediaPlayer2.") + name);
    }
    ~TestPlayer() override { QDBusConnection::disconnectFromBus(QStringLiteral("player-") + m_name); }

    // Changes player properties ("PlaybackStatus", "Metadata") and announces them in one signal.
    void publish(const QVariantMap& changed)
    {
        m_player.insert(changed);
        send({QStringLiteral("org.mpris.MediaPlayer2.Player"), changed, QStringList()});
    }
    void send(const QVariantList& arguments)
    {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/mpris/MediaPlayer2"),
                                                         QStringLiteral("org.freedesktop.DBus.Properties"),
                                                         QStringLiteral("PropertiesChanged"));
        signal.setArguments(arguments);
        m_connection.send(signal);
    }

    QDBusConnection& connection() { return m_connection; }

    QString introspect(const QString& /*path*/) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const QVariantList in = message.arguments();
        if (message.member() == QStringLiteral("GetAll"))
            return connection.send(message.createReply(QVariant::fromValue(m_player)));
        if (message.member() == QStringLiteral("Get") && in.size() == 2) {
            const QVariant value =
                in[1].toString() == QStringLiteral("Identity") ? QVariant(m_name) : m_player.value(in[1].toString());
            return connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
        }
        return false;
    }

private:
    QString m_name;
    QDBusConnection m_connection;
    QVariantMap m_player;
};

} // namespace glowcast::testing
