#pragma once

#include "adapters/dbus/desktop_notifications.h"
#include "app/front_end.h"

namespace glowcast {

// The program without a window (glowcast --headless): the link button and the alert are asked for
// through desktop notifications and the log, and nothing shows the lamps or the covers.
class HeadlessFrontEnd final : public FrontEnd {
public:
    HeadlessFrontEnd(Log& log, const QDBusConnection& bus)
        : m_log(log), m_notifier(log, bus), m_offers(log, bus), m_pushButton(m_notifier, log), m_alert(m_notifier, log)
    {
    }

    LinkButtonPrompt& linkButtonPrompt() override { return m_pushButton; }
    Alert& alert() override { return m_alert; }
    ControllerViews attach(Application& /*application*/) override { return {}; }
    void detach() override {}
    FollowerView* followerView() override { return nullptr; }
    void show() override {}
    void offerBridgeAddress(const std::string& reason) override
    {
        const std::string how = "Give it the bridge's address with: glowcastctl bridge ADDRESS";
        m_log.write(reason + " " + how);
        m_offers.show("Glowcast found no bridge", reason + "\n" + how, DesktopNotifier::Urgency::Normal);
    }
    void closing() override {}
    bool savePicture(const std::string& /*path*/) override { return false; }

private:
    Log& m_log;
    DesktopNotifier m_notifier;
    DesktopNotifier m_offers; // its own, so that it does not replace the alert it follows
    NotificationLinkButtonPrompt m_pushButton;
    NotificationAlert m_alert;
};

} // namespace glowcast
