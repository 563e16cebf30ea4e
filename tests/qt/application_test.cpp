#include "app/application.h"
#include "support/fake_platform.h"
#include "support/private_session_bus.h"
#include "support/recording_log.h"

#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace glowcast {
namespace {

// A front end that asks to quit as soon as it is shown, and notes what the application asks of it.
// Its lamp view is what the window's lamp table is to the application: it reads the controller.
class QuittingFrontEnd final : public FrontEnd {
public:
    std::vector<std::string> told;

    LinkButtonPrompt& linkButtonPrompt() override { return m_prompt; }
    Alert& alert() override { return m_alert; }
    ControllerViews attach(Application& application) override
    {
        m_application = &application;
        told.emplace_back("attach");
        return {&m_lamps, nullptr};
    }
    void detach() override
    {
        // Ends what refers to the application's objects while they still exist.
        told.push_back("detach, " + std::to_string(m_application->controller().collection().size()) +
                       " lamps, portal '" + m_application->settings().text("portal") + "'");
        m_application = nullptr;
    }
    FollowerView* followerView() override { return nullptr; }
    void show() override
    {
        QTimer::singleShot(0, [this] { m_application->requestQuit(); });
    }
    void offerBridgeAddress(const std::string& /*reason*/) override { told.emplace_back("offer"); }
    void closing() override { told.emplace_back("closing"); }
    bool savePicture(const std::string& /*path*/) override { return false; }

private:
    FakeLinkButtonPrompt m_prompt;
    FakeAlert m_alert;
    FakeLampListView m_lamps;
    Application* m_application = nullptr;
};

TEST(ApplicationTest, WhatShowsTheApplicationEndsBeforeItsObjects)
{
    testing::PrivateSessionBus bus;
    ASSERT_FALSE(bus.address().isEmpty());
    QTemporaryDir configuration;
    setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8().constData(), 1);
    setenv("GLOWCAST_CONFIG_DIR", configuration.path().toUtf8().constData(), 1);
    unsetenv("GLOWCAST_PORTAL");
    QuittingFrontEnd frontEnd;
    RecordingLog log;
    EXPECT_EQ(Application::run(frontEnd, log, {}), 0);
    EXPECT_EQ(frontEnd.told, (std::vector<std::string>{"attach", "closing", "detach, 0 lamps, portal ''"}));
    EXPECT_EQ(log.count("hub should terminate"), 1);
}

} // namespace
} // namespace glowcast
