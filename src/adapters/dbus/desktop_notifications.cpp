#include "adapters/dbus/desktop_notifications.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace glowcast {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

} // namespace

DesktopNotifier::DesktopNotifier(Log& log, QDBusConnection bus) : m_log(log), m_bus(std::move(bus))
{
}

void DesktopNotifier::show(const std::string& summary, const std::string& body, Urgency urgency)
{
    if (!m_bus.isConnected())
        return;
    QDBusMessage notify = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue(static_cast<uchar>(urgency))},
                            {QStringLiteral("desktop-entry"), QStringLiteral("org.glowcast.Glowcast")}};
    notify << QStringLiteral("Glowcast") << m_shown << QStringLiteral("org.glowcast.Glowcast")
           << QString::fromStdString(summary) << QString::fromStdString(body) << QStringList() << hints
           << (urgency == Urgency::Critical ? 0 : -1);
    m_closeWhenKnown = false;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(notify), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        const QDBusPendingReply<uint> reply = *finished;
        if (reply.isError()) {
            if (!m_complained)
                m_log.write("desktop notifications: none shown (" + reply.error().message().toStdString() +
                            "); the log alone tells");
            m_complained = true;
            return;
        }
        m_shown = reply.value();
        if (m_closeWhenKnown)
            close();
    });
}

void DesktopNotifier::close()
{
    if (m_shown == 0) {
        m_closeWhenKnown = true; // the answer to the Notify call has not come yet
        return;
    }
    QDBusMessage closing =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("CloseNotification"));
    closing << m_shown;
    m_bus.call(closing, QDBus::NoBlock);
    m_shown = 0;
    m_closeWhenKnown = false;
}

void NotificationLinkButtonPrompt::begin(const std::string& /*bridge*/)
{
    if (m_visible)
        return;
    m_visible = true;
    m_log.write("pairing: press the link button on your lighting bridge now (Glowcast tries for 75 seconds)");
    m_notifier.show("Press the link button on your lighting bridge",
                    "Glowcast is waiting for the bridge to accept it, for 75 seconds.",
                    DesktopNotifier::Urgency::Critical);
}

void NotificationLinkButtonPrompt::end()
{
    if (!m_visible)
        return;
    m_visible = false;
    m_notifier.close();
}

void NotificationAlert::show(const AlertText& text)
{
    m_log.write("alert: " + text.title + ": " + text.informativeText);
    m_notifier.show(text.title, text.informativeText, DesktopNotifier::Urgency::Critical);
}

} // namespace glowcast
