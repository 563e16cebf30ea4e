#pragma once

#include "adapters/covers/cover_file_decoder.h"
#include "adapters/dbus/dbus_control_service.h"
#include "adapters/dbus/dbus_notification_centre.h"
#include "adapters/dbus/mpris_watcher.h"
#include "adapters/files/file_preferences.h"
#include "adapters/files/palette_file.h"
#include "adapters/http/qt_art_fetcher.h"
#include "adapters/mqtt/home_assistant_publisher.h"
#include "adapters/pipewire/pipewire_sound_capture.h"
#include "adapters/process/steady_clock.h"
#include "adapters/qt/qt_http_transport.h"
#include "adapters/qt/qt_sleeper.h"
#include "adapters/qt/qt_timers.h"
#include "adapters/qt/queued_ports.h"
#include "adapters/qt/udp_datagram_sender.h"
#include "app/front_end.h"
#include "app/lamp_system_factory.h"
#include "app/signal_relay.h"
#include "core/beat/lamp_beat.h"
#include "core/bridge/bridge_bridge.h"
#include "core/bridge/bridge_lamp_bridge.h"
#include "core/bridge/lamp_care.h"
#include "core/control/glowcast_controller.h"
#include "core/control/operation_queue.h"
#include "core/control/remote_control.h"
#include "core/covers/cover_follower.h"
#include "core/settings/settings.h"

#include <QDBusConnection>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace glowcast {

struct ApplicationOptions {
    // On SIGUSR1, save a picture of the window here (for the documentation's screenshot).
    std::optional<std::string> windowPicture;
};

// The running program, whichever front end shows it: owns every long-lived object, sets them up,
// serves the control interface, and ends the program on every way of asking it to (the window,
// SIGINT, SIGTERM) through the controller's termination query, which saves the selection.
class Application final : private FollowerView, private CoverSink {
public:
    // The exit status when another Glowcast already runs on the session bus.
    static constexpr int kAlreadyRunning = 3;
    // Covers are decoded at the size the window shows them, with or without a window, so that the
    // lamps get the same colours either way.
    static constexpr int kCoverSide = 240;

    // Claims the program's bus name (before the preferences are touched), makes and wakes every
    // object, shows the front end and runs the event loop until the program ends. Returns the exit
    // status. The Qt application object must exist.
    static int run(FrontEnd& frontEnd, Log& log, const ApplicationOptions& options);

    ~Application() override;
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    [[nodiscard]] GlowcastController& controller() { return m_controller; }
    [[nodiscard]] RemoteControl& control() { return m_control; }
    [[nodiscard]] LampSystems& lampSystems() { return m_systems; }
    // For files kept beside the preferences under the directory's lock (a system's password).
    [[nodiscard]] FilePreferences& preferences() { return m_preferences; }
    [[nodiscard]] const Settings& settings() const { return m_settings; }

    // Runs operation through the operation queue and hands its outcome to done: before returning when
    // nothing else runs, otherwise once the operation under way has ended and this one has run. done
    // is never called when the program ends first.
    void perform(std::function<Outcome()> operation, Completion done);
    void windowActivated();
    // The window's close button and Quit, SIGINT and SIGTERM all end here.
    void requestQuit();

private:
    Application(FrontEnd& frontEnd, Log& log, ApplicationOptions options, QDBusConnection bus);
    int exec();
    void signalled(int signalNumber);
    void offerBridgeAddress();
    // A media player's cover goes to the controller through the same queue as the bus's.
    void coverChanged(std::vector<std::uint8_t> bytes, SteadyTime heard) override;
    void showFollowed(const FollowerStatus& status) override;
    // A cover's colours were taken: other programs are told on the bus and in the palette file.
    void paletteTaken(const PaletteDocument& document);
    [[nodiscard]] FollowerOptions followerOptions() const;
    // The systems' records go to the preferences when they changed since they were last stored.
    void storeSystems();
    // Publishes on the broker the "mqtt" setting names, or nowhere when it names none: a publisher is made,
    // started anew (same broker, same topics: new credentials) or withdrawn from the broker it was on.
    void followMqttSetting();
    // The "beat" setting: the beat's mode, and the sound heard only while it is not off.
    void followBeatSetting();
    // Lets go of the sound server at once; the beat hears no more.
    void stopHearing();
    // What a command from Home Assistant asks, as the control interface does it.
    void obey(const HomeAssistantCommand& command);

    FrontEnd& m_frontEnd;
    Log& m_log;
    ApplicationOptions m_options;
    FilePreferences m_preferences;
    QtHttpTransport m_http;
    QtSleeper m_sleeper;
    CoverFileDecoder m_coverDecoder;
    DBusNotificationCentre m_busCentre;
    OperationQueue m_queue;
    NotifiedCoverFeed m_notifiedCovers;
    QueuedCoverFeed m_covers;
    QtScheduler m_scheduler;
    Settings m_settings;
    BridgeBridge m_bridge;
    SteadyClock m_clock;
    BridgeLampBridge m_lampBridge;
    LampCare m_lampCare;
    // The lamp systems beside the first bridge: their senders run on direct timers, outside the queue.
    AppLampSystemFactory m_systemFactory;
    QtTimers m_timers;
    LampSystems m_systems;
    // The beat: WLED's sound sync on UDP, and the other systems' pulses through their own senders.
    UdpDatagramSender m_datagrams;
    LampBeat m_beat;
    // Made when the beat is first turned on: only then is PipeWire loaded. It tells the beat.
    std::unique_ptr<PipeWireSoundCapture> m_capture;
    std::vector<SystemRecord> m_storedSystems;
    bool m_systemsChangePending = false;
    bool m_lampsChangePending = false;
    GlowcastController m_controller;
    RemoteControl m_control;
    DBusControlService m_controlService;
    PaletteFile m_paletteFile;
    // The second cover source: the media players on the session bus. What shows the player followed
    // comes with the front end; until then (the follower shows its status when made) nothing does.
    FollowerView* m_followerView = nullptr;
    QtArtFetcher m_artFetcher;
    CoverFileSniffer m_coverSniffer;
    QtTimerScheduler m_followerTimer;
    CoverFollower m_follower;
    MprisWatcher m_players;
    SignalRelay m_signals;
    bool m_terminationRequested = false;
    // Made only while "mqtt" is set; the node id is worked out once, with the first.
    std::optional<std::string> m_nodeId;
    std::unique_ptr<HomeAssistantPublisher> m_publisher;
};

} // namespace glowcast
