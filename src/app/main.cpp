// The composition root: makes every long-lived object once, connects them, wakes them and runs
// the event loop. Every way of ending short of a kill (the window's close button, File > Quit,
// SIGINT, SIGTERM) goes through the controller's termination query, which saves the selection.

#include "adapters/dbus_notification_centre.h"
#include "adapters/file_preferences.h"
#include "adapters/portal_host.h"
#include "adapters/qt_cover_decoder.h"
#include "adapters/qt_http_transport.h"
#include "adapters/qt_sleeper.h"
#include "adapters/stderr_log.h"
#include "core/bridge_bridge.h"
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
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    using namespace glowcast;

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
    return QApplication::exec();
}
