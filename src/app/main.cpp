// The composition root: makes every long-lived object once, connects them, wakes them and runs
// the event loop. Every way of ending short of a kill (the window's close button, File > Quit,
// SIGINT, SIGTERM) goes through the controller's termination query, which saves the selection.

#include "adapters/dbus_notification_centre.h"
#include "adapters/file_preferences.h"
#include "adapters/mpris_watcher.h"
#include "adapters/portal_host.h"
#include "adapters/program_command_line.h"
#include "adapters/qt_art_fetcher.h"
#include "adapters/qt_cover_decoder.h"
#include "adapters/qt_http_transport.h"
#include "adapters/qt_sleeper.h"
#include "adapters/stderr_log.h"
#include "core/bridge_bridge.h"
#include "core/covers/cover_follower.h"
#include "core/glowcast_controller.h"
#include "gui/main_window.h"
#include "gui/operation_queue.h"
#include "gui/push_button_window.h"
#include "gui/queued_ports.h"
#include "signal_relay.h"

#include <QApplication>
#include <QDBusConnection>
#include <QPixmap>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

// A media player's cover becomes the cover-changed notification the controller handles, handed over
// in this process through the same queue as the bus's.
class CoverNotifications final : public glowcast::CoverSink {
public:
    explicit CoverNotifications(glowcast::QueuedNotificationCentre& centre) : m_centre(centre) {}
    void coverChanged(std::vector<std::uint8_t> bytes) override
    {
        m_centre.postLocally({std::string{glowcast::kCoverChangedName},
                              std::string{glowcast::kCoverChangedObject},
                              {{std::string{glowcast::kCoverKey}, std::move(bytes)}}});
    }

private:
    glowcast::QueuedNotificationCentre& m_centre;
};

// Absent or of the wrong kind (logged by the preferences), each reads as its default.
glowcast::FollowerOptions followerOptions(const glowcast::FilePreferences& preferences)
{
    glowcast::FollowerOptions options;
    options.enabled = preferences.flag(glowcast::kFollowPlayersKey).value_or(options.enabled);
    options.ignored = preferences.texts(glowcast::kIgnorePlayersKey).value_or(options.ignored);
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace glowcast;

    // The command line is read before any application object, so --help and --version need no display.
    ProgramCommandLine commandLine(
        QStringLiteral("glowcast"),
        QStringLiteral("Colours the lamps of the room after the album cover that is showing: one dominant colour of\n"
                       "the cover for each enabled lamp, sent through the lighting bridge on the local network."));
    const QCommandLineOption headlessOption(QStringLiteral("headless"),
                                            QStringLiteral("Run in the background, without a window."));
    commandLine.parser.addOption(headlessOption);
    commandLine.acceptToolkitOptions();
    if (const std::optional<int> status = commandLine.parse(argc, argv))
        return *status;
    // The front end without a window is chosen here; until it is built, the window runs either way.
    [[maybe_unused]] const bool headless = commandLine.parser.isSet(headlessOption);
    // Ties the window to the installed desktop entry, and so to its name and icon.
    QApplication::setDesktopFileName(QStringLiteral("org.glowcast.Glowcast"));

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Glowcast"));
    QApplication::setQuitOnLastWindowClosed(false);

    StderrLog log("glowcast");
    FilePreferences preferences(log, FilePreferences::defaultDirectory());
    QtHttpTransport http(log);
    QtSleeper sleeper;
    // Covers are decoded at the size the window shows them; the extractor redraws them smaller.
    QtCoverDecoder coverDecoder(log, QSize(CoverView::kSide, CoverView::kSide));
    DBusNotificationCentre busCentre(log, QDBusConnection::sessionBus());
    OperationQueue queue;
    QueuedNotificationCentre notificationCentre(busCentre, queue, log);
    QtScheduler scheduler(queue);
    PushButtonWidget pushButtonWindow;
    MessageBoxAlert alert;

    BridgeBridge bridgeBridge(http, preferences, sleeper, log, pushButtonWindow, alert, portalHostFromEnvironment());
    GlowcastController controller(bridgeBridge, preferences, notificationCentre, scheduler, coverDecoder, log);
    MainWindow window(controller);
    AppDelegate delegate;
    delegate.setWindow(&window);
    controller.connectOutlets(window.outlets());

    // The second cover source: the media players on the session bus.
    const FollowerOptions options = followerOptions(preferences);
    QtArtFetcher artFetcher;
    QtCoverSniffer coverSniffer;
    QtTimerScheduler followerTimer;
    CoverNotifications coverNotifications(notificationCentre);
    CoverFollower follower(options, artFetcher, coverSniffer, coverNotifications, followerTimer, log,
                           &window.followedPlayer());
    MprisWatcher players(follower, log, QDBusConnection::sessionBus());

    bool terminationRequested = false;
    const auto terminate = [&] {
        terminationRequested = true;
        queue.run([&] {
            if (controller.applicationShouldTerminate() != TerminateReply::Now)
                return;
            queue.close();
            window.allowClose();
            QApplication::quit();
        });
    };
    window.onQuitRequested = terminate;
    window.onBecameKey = [&] { queue.run([&] { controller.windowDidBecomeKey(); }); };

    SignalRelay signalRelay({SIGINT, SIGTERM, SIGUSR1});
    signalRelay.onSignal = [&](int signalNumber) {
        if (signalNumber == SIGUSR1) {
            // A picture of the window, for the documentation: GLOWCAST_SCREENSHOT names the file.
            if (const char* path = std::getenv("GLOWCAST_SCREENSHOT"); path != nullptr && *path != '\0')
                log.write(std::string(window.grab().save(QString::fromLocal8Bit(path)) ? "saved " : "could not save ") +
                          "a picture of the window to " + path);
            return;
        }
        if (terminationRequested && queue.busy()) {
            // Asked twice while a pairing or a request still waits: the collection only changes
            // between operations, so it can be saved now without waiting for the operation's end.
            log.write("asked again to quit: saving the selection and quitting now");
            (void)controller.applicationShouldTerminate();
            std::_Exit(EXIT_SUCCESS);
        }
        log.write("signal " + std::to_string(signalNumber) + " received, quitting");
        terminate();
    };

    bridgeBridge.awakeFromNib();
    controller.awakeFromNib();
    window.show();
    delegate.applicationDidFinishLaunching();
    if (options.enabled)
        players.start();
    else
        log.write("players: following media players is turned off (\"followplayers\": false)");
    return QApplication::exec();
}
