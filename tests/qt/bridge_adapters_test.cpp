#include "adapters/console_prompts.h"
#include "adapters/portal_host.h"
#include "adapters/qt_sleeper.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace glowcast {
namespace {

using namespace std::chrono_literals;

TEST(QtSleeperTest, KeepsDeliveringEventsWhileItWaits)
{
    QtSleeper sleeper;
    int fired = 0;
    QTimer::singleShot(0, [&] { ++fired; });
    QTimer::singleShot(10, [&] { ++fired; });
    sleeper.sleep(60ms);
    EXPECT_EQ(fired, 2);
    sleeper.sleep(0ms);
    sleeper.sleep(-5ms);
}

class PortalHostTest : public ::testing::Test {
protected:
    void TearDown() override { unsetenv("GLOWCAST_PORTAL"); }
};

TEST_F(PortalHostTest, ReadsHostOrHostAndPortAndIgnoresBlankValues)
{
    unsetenv("GLOWCAST_PORTAL");
    EXPECT_EQ(portalHostFromEnvironment(), std::nullopt);
    setenv("GLOWCAST_PORTAL", "", 1);
    EXPECT_EQ(portalHostFromEnvironment(), std::nullopt);
    setenv("GLOWCAST_PORTAL", " \t\n", 1);
    EXPECT_EQ(portalHostFromEnvironment(), std::nullopt);
    setenv("GLOWCAST_PORTAL", "portal.example.org", 1);
    EXPECT_EQ(portalHostFromEnvironment(), "portal.example.org");
    setenv("GLOWCAST_PORTAL", " 127.0.0.1:8080\n", 1);
    EXPECT_EQ(portalHostFromEnvironment(), "127.0.0.1:8080");
}

std::string contents(std::FILE* file)
{
    std::rewind(file);
    std::string text;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file))
        text += static_cast<char>(c);
    return text;
}

TEST(ConsolePromptsTest, PushButtonWindowShowsOneLineWithADotPerAttempt)
{
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ConsolePushButtonWindow window{out};
    window.hide();
    window.show();
    window.bringToFront();
    window.bringToFront();
    window.hide();
    window.bringToFront();
    EXPECT_EQ(contents(out), "Press the link button on your lighting bridge now; waiting for it ..\n");
    std::fclose(out);
}

TEST(ConsolePromptsTest, AlertPrintsTitleTextAndButton)
{
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ConsoleAlert alert{out};
    alert.runModal({"Unable to find IP of bridge", "OK", "Have tried"});
    EXPECT_EQ(contents(out), "\nUnable to find IP of bridge\nHave tried\n[OK]\n");
    std::fclose(out);
}

} // namespace
} // namespace glowcast
