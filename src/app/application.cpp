#include "app/application.h"

#include "adapters/files/regular_file.h"
#include "adapters/files/system_secrets.h"
#include "adapters/process/portal_host.h"

#include <QCoreApplication>
#include <QSize>
#include <QSysInfo>

#include <malloc.h>

#include <csignal>
#include <cstdlib>
#include <utility>

namespace glowcast {

int Application::run(FrontEnd& frontEnd, Log& log, const ApplicationOptions& options)
{
    // The program sits idle between covers for hours: a decoded cover's buffers go back to the system
    // when freed, rather than staying in the heap at its largest.
    mallopt(M_MMAP_THRESHOLD, 64 * 1024);
    mallopt(M_TRIM_THRESHOLD, 64 * 1024);
    // One program per session writes the preferences: the bus name decides, before anything is read.
    QDBusConnection bus = QDBusConnection::sessionBus();
    switch (claimServiceName(bus)) {
    case NameClaim::Taken:
        log.write(std::string{"Glowcast is already running in this session (it owns "} + control_bus::kService +
                  " on the session bus); this one quits. glowcastctl talks to the running one.");
        return kAlreadyRunning;
    case NameClaim::NoBus:
        log.write("could not claim " + std::string{control_bus::kService} + " on the session bus (" +
                  bus.lastError().message().toStdString() +
                  "): no control interface, and nothing keeps a second Glowcast from starting");
        break;
    case NameClaim::Owned:
        break;
    }
    Application application(frontEnd, log, options, bus);
    return application.exec();
}

Application::Application(FrontEnd& frontEnd, Log& log, ApplicationOptions options, QDBusConnection bus)
    : m_frontEnd(frontEnd), m_log(log), m_options(std::move(options)),
      m_preferences(log, FilePreferences::defaultDirectory()), m_http(log), m_coverDecoder(log, kCoverSide),
      m_busCentre(log, bus), m_notifiedCovers(m_busCentre), m_covers(m_notifiedCovers, m_queue, log),
      m_scheduler(m_queue), m_settings(m_preferences, log),
      m_bridge(m_http, m_preferences, m_sleeper, log, frontEnd.linkButtonPrompt(), frontEnd.alert(), std::nullopt),
      m_lampBridge(m_bridge), m_lampCare(m_lampBridge, m_clock, m_sleeper, log),
      m_systemFactory(
          FilePreferences::defaultDirectory(), log,
          [this] { return m_bridge.bridgeIP() ? m_bridge.bridgeIP() : m_preferences.text("lastusedbridgeIP"); },
          [this] { return m_beat.mode() != BeatMode::Off; }),
      m_systems(m_systemFactory, m_timers, m_clock, log), m_datagrams(log), m_beat(m_timers, m_clock, m_datagrams),
      m_controller(m_bridge, m_lampCare, m_preferences, m_covers, m_scheduler, m_coverDecoder, m_clock, log),
      m_control(m_controller, m_bridge, m_settings, m_scheduler, log, portalHostFromEnvironment()),
      m_controlService(
          m_control, [this](std::function<void()> operation) { m_queue.run(std::move(operation)); }, log, bus),
      m_paletteFile(log, PaletteFile::runtimeDirectoryFromEnvironment()), m_coverSniffer(log),
      m_follower(followerOptions(), m_artFetcher, m_coverSniffer, *this, m_followerTimer, m_clock, log, this),
      m_players(m_follower, log, bus), m_signals({SIGINT, SIGTERM, SIGUSR1})
{
    m_bridge.setPortalHost(m_control.portalHost());
    m_lampCare.setSettings(lampCareSettingsFrom(m_settings));
    m_controller.setPalette(paletteFrom(m_settings));
    m_control.setSettingObserver([this](std::string_view key) {
        m_lampCare.setSettings(lampCareSettingsFrom(m_settings));
        m_controller.setPalette(paletteFrom(m_settings));
        if (key.starts_with("mqtt"))
            followMqttSetting();
        else if (key == "palette" && m_publisher)
            m_publisher->setPaletteName(m_settings.text("palette"));
        else if (key == "pinned" && m_publisher)
            m_publisher->setPinned(m_settings.flag("pinned"));
        else if (key == "beat")
            followBeatSetting();
    });
    m_control.setFollowingObserver([this](bool following) {
        if (m_publisher)
            m_publisher->setFollowing(following);
    });
    m_controller.connectViews(m_frontEnd.attach(*this));
    m_controller.onPlayingAfterRestore = [this] { m_follower.sendAgain(); };
    m_controller.onPaletteTaken = [this](const PaletteDocument& document) { paletteTaken(document); };
    m_followerView = m_frontEnd.followerView();
    showFollowed(m_follower.status());
    m_control.setFollowedPlayerSource([this] {
        const FollowerStatus status = m_follower.status();
        if (status.busName.empty())
            return std::string{};
        return status.identity.empty() ? status.busName : status.identity + " (" + status.busName + ")";
    });
    m_controller.onSetUpEnded = [this](SetUpEnd end) {
        if (end == SetUpEnd::Abandoned)
            offerBridgeAddress();
    };
    m_signals.onSignal = [this](int signalNumber) { signalled(signalNumber); };

    m_controller.setLampSystems(&m_systems);
    m_controller.setBeat(&m_beat);
    m_beat.onPulse = [this](const std::string& id, const LampStateCommand& command) {
        m_controller.pulse(id, command);
    };
    m_control.setSoundCaptureSource([this] { return std::string{soundCaptureStateName(m_beat.captureState())}; });
    m_control.attachSystems(m_systems, m_preferences);
    m_control.setSystemRemovedObserver(
        [this](const std::string& id) { forgetSystemPassword(m_preferences.filePath().parent_path(), id); });
    m_control.setSecretsAdopter([this](std::string_view tag, std::string_view id) {
        return adoptStagedSecrets(m_preferences.filePath().parent_path(), tag, id);
    });
    // What the systems tell may come while the first bridge's request spins its local loop: the
    // collection and the preferences hear of it through the queue, once, after the operation under way.
    m_systems.onLampsChanged = [this] {
        if (std::exchange(m_lampsChangePending, true))
            return;
        m_queue.run([this] {
            m_lampsChangePending = false;
            m_controller.systemLampsChanged();
        });
    };
    m_systems.onSystemsChanged = [this] {
        m_frontEnd.systemsChanged();
        m_beat.setSyncTargets(soundSyncTargets(m_systems.records()));
        if (std::exchange(m_systemsChangePending, true))
            return;
        m_queue.run([this] {
            m_systemsChangePending = false;
            storeSystems();
        });
    };
    m_systems.onLampSent = [this](const std::string& id, const LampState& state) { m_frontEnd.lampSent(id, state); };
    m_controller.onLampSent = [this](const std::string& id, const LampState& state) { m_frontEnd.lampSent(id, state); };
}

Application::~Application()
{
    // No adapter answers after this: the registry's callbacks reach objects that end before it does.
    m_systems.stop();
    // The window's lamp table reads the controller's collection: it ends before the controller does.
    m_controller.connectViews({});
    m_frontEnd.detach();
}

int Application::exec()
{
    m_systems.load(m_preferences.systems());
    m_storedSystems = m_systems.records();
    m_beat.setSyncTargets(soundSyncTargets(m_storedSystems));
    followBeatSetting();
    m_controller.start();
    followMqttSetting();
    m_frontEnd.show();
    if (m_settings.flag(kFollowPlayersKey))
        m_players.start();
    else
        m_log.write("players: following media players is turned off (\"followplayers\": false)");
    return QCoreApplication::exec();
}

FollowerOptions Application::followerOptions() const
{
    return {m_settings.flag(kFollowPlayersKey), m_settings.list(kIgnorePlayersKey)};
}

void Application::storeSystems()
{
    std::vector<SystemRecord> records = m_systems.records();
    if (records == m_storedSystems)
        return;
    // A failure is logged by the preferences; the next change tries again.
    if (m_preferences.updateSystems([&records](const std::vector<SystemRecord>& /*stored*/) { return records; }))
        m_storedSystems = std::move(records);
}

void Application::followMqttSetting()
{
    const std::optional<MqttAddress> broker = parseMqttAddress(m_settings.text("mqtt"), kMqttDefaultBase);
    const std::string prefix = m_settings.text("mqttDiscovery");
    const bool sameTopics = m_publisher && broker && m_publisher->options().broker == *broker &&
                            m_publisher->options().discoveryPrefix == prefix;
    if (m_publisher && !sameTopics)
        m_publisher->withdraw();
    m_publisher.reset();
    if (!broker)
        return;
    const std::string hostName = QSysInfo::machineHostName().toStdString();
    if (!m_nodeId) {
        const FileRead machineId = readRegularFile("/etc/machine-id", 64);
        m_nodeId = homeAssistantNodeId(std::string(machineId.bytes.begin(), machineId.bytes.end()), hostName, m_log);
    }
    const std::filesystem::path directory = m_preferences.filePath().parent_path();
    std::optional<std::string> user;
    if (std::string name = m_settings.text("mqttUser"); !name.empty())
        user = std::move(name);
    m_publisher = std::make_unique<HomeAssistantPublisher>(
        HomeAssistantPublisher::Options{*broker, prefix, user,
                                        user ? systemPassword(directory, kMqttSecretId, m_log) : std::nullopt,
                                        *m_nodeId, hostName},
        m_log);
    m_publisher->setFollowing(m_controller.following());
    m_publisher->setPaletteName(m_settings.text("palette"));
    m_publisher->setPinned(m_settings.flag("pinned"));
    if (const std::optional<PaletteDocument>& last = m_controller.lastPalette())
        m_publisher->setPalette(paletteJSON(*last));
    m_publisher->onCommand = [this](const HomeAssistantCommand& command) {
        m_queue.run([this, command] { obey(command); });
    };
    m_publisher->start();
}

void Application::obey(const HomeAssistantCommand& command)
{
    switch (command.action) {
    case HomeAssistantCommand::Action::Follow:
        if (command.on)
            m_control.resume();
        else
            m_control.pause();
        return;
    case HomeAssistantCommand::Action::Palette:
    case HomeAssistantCommand::Action::Pin: {
        const Outcome outcome = command.action == HomeAssistantCommand::Action::Pin
                                    ? m_control.setPinned(command.on)
                                    : m_control.setSetting("palette", command.palette);
        if (!outcome.ok())
            m_log.write("mqtt: " + outcome.message);
        return;
    }
    }
}

void Application::coverChanged(std::vector<std::uint8_t> bytes, SteadyTime heard)
{
    // The log names the player a cover came from, as it names the cover application for the bus's.
    const FollowerStatus status = m_follower.status();
    // The follower reads the cover of the followed player's metadata as it is now: the track is that one.
    CoverTrack track;
    if (const PlayerState* player = m_follower.roster().followed(); player != nullptr && player->metadata)
        track = {player->metadata->title, player->metadata->artist, player->metadata->album};
    m_covers.post({std::move(bytes),
                   !status.identity.empty()  ? status.identity
                   : !status.busName.empty() ? status.busName
                                             : std::string{"a media player"},
                   true, heard, std::move(track)});
}

void Application::paletteTaken(const PaletteDocument& document)
{
    m_controlService.paletteChanged(document);
    m_paletteFile.write(document);
    if (m_publisher)
        m_publisher->setPalette(paletteJSON(document));
}

void Application::showFollowed(const FollowerStatus& status)
{
    if (m_followerView != nullptr)
        m_followerView->showFollowed(status);
    // Player events may arrive while a cover change waits for the bridge: lamp care hears of them after it.
    m_queue.run([this, status] { m_controller.followedPlayerChanged(status); });
}

void Application::perform(std::function<Outcome()> operation, Completion done)
{
    m_queue.run([operation = std::move(operation), done = std::move(done)] { done(operation()); });
}

void Application::windowActivated()
{
    m_queue.run([this] { m_controller.windowActivated(); });
}

void Application::requestQuit()
{
    m_terminationRequested = true;
    stopHearing();
    // Whatever runs stops sending and waiting, so the quit behind it comes within moments: a paced
    // cover of hundreds of lamps or a pairing would otherwise outlast the session's stop timeout.
    m_controller.stop();
    m_sleeper.cutShort();
    m_queue.run([this] {
        m_controller.saveBeforeQuit();
        m_queue.close();
        m_frontEnd.closing();
        QCoreApplication::quit();
    });
}

void Application::signalled(int signalNumber)
{
    if (signalNumber == SIGUSR1) {
        if (!m_options.windowPicture) {
            m_log.write("SIGUSR1 ignored: no --window-picture was given");
            return;
        }
        const std::string& path = *m_options.windowPicture;
        m_log.write((m_frontEnd.savePicture(path) ? "saved a picture of the window to "
                                                  : "could not save a picture "
                                                    "of the window to ") +
                    path);
        return;
    }
    if (m_terminationRequested && m_queue.busy()) {
        // Asked twice while a pairing or a request still waits: the collection only changes between
        // operations, so it can be saved now without waiting for the operation's end.
        m_log.write("asked again to quit: saving the selection and quitting now");
        m_controller.saveBeforeQuit();
        std::_Exit(EXIT_SUCCESS);
    }
    m_log.write("signal " + std::to_string(signalNumber) + " received, quitting");
    requestQuit();
}

void Application::followBeatSetting()
{
    const BeatMode mode = beatModeNamed(m_settings.text("beat")).value_or(BeatMode::Off);
    m_beat.setMode(mode);
    if (mode == BeatMode::Off || m_terminationRequested) {
        stopHearing();
        return;
    }
    if (!m_capture)
        m_capture = std::make_unique<PipeWireSoundCapture>(m_log);
    m_capture->start(m_beat);
}

void Application::stopHearing()
{
    if (m_capture)
        m_capture->stop();
    m_beat.soundStateChanged(SoundCaptureState::Off);
}

void Application::offerBridgeAddress()
{
    const std::optional<std::string>& address = m_bridge.bridgeIP();
    m_frontEnd.offerBridgeAddress(
        address ? "Glowcast could not read the lamps of the bridge at " + *address +
                      ": it did not answer, or the pairing did not finish."
                : std::string{"Glowcast found no bridge: no portal gave its address, and none is stored."});
}

} // namespace glowcast
