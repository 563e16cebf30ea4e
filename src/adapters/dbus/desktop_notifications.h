#pragma once

#include "core/ports/alert.h"
#include "core/ports/link_button_prompt.h"
#include "core/ports/log.h"

#include <QDBusConnection>
#include <QObject>

#include <cstdint>
#include <string>

namespace glowcast {

// Desktop notifications (org.freedesktop.Notifications on the session bus) for a program without a
// window. Nothing waits for the notification server: the calls go out and its answers arrive later.
// Without a server (or a bus) the notifications are dropped with one log line; whoever shows one
// writes its text to the log as well.
class DesktopNotifier final : public QObject {
    Q_OBJECT
public:
    enum class Urgency : std::uint8_t { Low = 0, Normal = 1, Critical = 2 };

    DesktopNotifier(Log& log, QDBusConnection bus);

    // Shows a notification in place of the one this notifier showed last, if that one still shows.
    // A critical one stays until the user dismisses it; the others expire as the server decides.
    void show(const std::string& summary, const std::string& body, Urgency urgency);
    // Takes the last notification away.
    void close();

private:
    Log& m_log;
    QDBusConnection m_bus;
    std::uint32_t m_shown = 0; // the server's id of the last one; 0 when none is known
    bool m_closeWhenKnown = false;
    bool m_complained = false;
};

// The link-button prompt of a program without a window: a notification that asks for the link
// button, shown for as long as the pairing tries, and a log line.
class NotificationLinkButtonPrompt final : public LinkButtonPrompt {
public:
    NotificationLinkButtonPrompt(DesktopNotifier& notifier, Log& log) : m_notifier(notifier), m_log(log) {}
    void begin(const std::string& bridge) override;
    void attempt() override {}
    void end() override;

private:
    DesktopNotifier& m_notifier;
    Log& m_log;
    bool m_visible = false;
};

// The alert of a program without a window: its title and text as a critical notification and in
// the log. There is nobody to dismiss it, so it returns at once.
class NotificationAlert final : public Alert {
public:
    NotificationAlert(DesktopNotifier& notifier, Log& log) : m_notifier(notifier), m_log(log) {}
    void show(const AlertText& text) override;

private:
    DesktopNotifier& m_notifier;
    Log& m_log;
};

} // namespace glowcast
