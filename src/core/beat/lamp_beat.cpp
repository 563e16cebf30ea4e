#include "core/beat/lamp_beat.h"

#include "core/beat/sound_sync_packet.h"

#include <algorithm>

namespace glowcast {

namespace {

using std::chrono::milliseconds;

// As long as the planners wait before they take music for over.
constexpr milliseconds kSilenceEndsMusic{2000};
// WLED takes some 45 packets a second, whatever the length of the blocks heard.
constexpr milliseconds kPacketInterval{22};
// Blocks come some 40 to 100 a second: this holds the longest delay with its offset, and then some.
constexpr std::size_t kMostBlocksHeld = 1024;

} // namespace

std::optional<BeatMode> beatModeNamed(std::string_view word)
{
    if (word == "off")
        return BeatMode::Off;
    if (word == "calm")
        return BeatMode::Calm;
    if (word == "pulse")
        return BeatMode::Pulse;
    return std::nullopt;
}

std::string_view soundCaptureStateName(SoundCaptureState state)
{
    switch (state) {
    case SoundCaptureState::Off:
        return "off";
    case SoundCaptureState::Waiting:
        return "waiting";
    case SoundCaptureState::Capturing:
        return "capturing";
    case SoundCaptureState::Unavailable:
        return "unavailable";
    }
    return "off";
}

std::vector<SoundSyncTarget> soundSyncTargets(const std::vector<SystemRecord>& records)
{
    std::vector<SoundSyncTarget> targets;
    for (const SystemRecord& record : records) {
        if (record.kind != SystemKind::Wled || record.syncPort <= 0 || record.syncPort > 65'535)
            continue;
        // "http://HOST[:PORT]" or "HOST[:PORT]", an IPv6 address in brackets.
        std::string_view host = record.address;
        if (host.starts_with("http://"))
            host.remove_prefix(std::string_view{"http://"}.size());
        if (host.starts_with('['))
            host = host.substr(1, host.find(']') - 1);
        else
            host = host.substr(0, host.find(':'));
        if (!host.empty())
            targets.push_back({std::string{host}, static_cast<std::uint16_t>(record.syncPort)});
    }
    return targets;
}

LampBeat::System::System(BeatSystem from, BeatMode mode, std::unique_ptr<Timer> made)
    : system(std::move(from)), planner(mode, system.pace, system.second), timer(std::move(made))
{
}

LampBeat::LampBeat(Timers& timers, Clock& clock, DatagramSender& datagrams)
    : m_timers(timers), m_clock(clock), m_datagrams(datagrams)
{
}

LampBeat::~LampBeat()
{
    for (const auto& system : m_systems)
        system->timer->cancel();
}

void LampBeat::setMode(BeatMode mode)
{
    if (mode == m_mode)
        return;
    m_mode = mode;
    m_lastSound.reset();
    for (const auto& system : m_systems) {
        system->heard.clear();
        system->planner.setMode(mode);
        run(*system);
    }
}

void LampBeat::coverSent(std::vector<BeatSystem> systems)
{
    std::vector<std::unique_ptr<System>> kept;
    for (BeatSystem& each : systems) {
        const auto found = std::ranges::find_if(m_systems, [&](const auto& system) {
            return system && system->system.id == each.id && system->system.pace == each.pace &&
                   system->system.second == each.second;
        });
        if (found != m_systems.end()) {
            (*found)->system.lag = each.lag;
            (*found)->planner.setCover(each.cover);
            kept.push_back(std::move(*found));
            continue;
        }
        auto system = std::make_unique<System>(std::move(each), m_mode, m_timers.create());
        system->planner.setCover(system->system.cover);
        if (m_playerStopped)
            system->planner.playerStopped();
        kept.push_back(std::move(system));
    }
    m_systems = std::move(kept);
}

void LampBeat::playerChanged(bool playing)
{
    if (playing == !m_playerStopped)
        return;
    m_playerStopped = !playing;
    if (!playing) {
        stopMusic();
        return;
    }
    for (const auto& system : m_systems)
        system->planner.playerPlaying();
}

bool LampBeat::playing() const
{
    return m_mode != BeatMode::Off && !m_playerStopped && m_lastSound && m_lastHeard &&
           *m_lastHeard - *m_lastSound < kSilenceEndsMusic;
}

void LampBeat::heard(SteadyTime at, const SoundFrame& frame)
{
    if (m_mode == BeatMode::Off)
        return;
    m_lastHeard = at;
    if (!frame.silent)
        m_lastSound = at;
    // WLED keeps its own time: its packets go out as the sound is heard.
    if (playing() && !m_targets.empty()) {
        // A beat in a block that sends no packet goes with the next.
        m_beatUnsent = m_beatUnsent || frame.beat;
        if (!m_nextPacket || at >= *m_nextPacket) {
            SoundFrame sent = frame;
            sent.beat = std::exchange(m_beatUnsent, false);
            const SoundSyncPacket packet = soundSyncPacket(sent, m_frameCounter++);
            for (const SoundSyncTarget& target : m_targets)
                m_datagrams.send(target.host, target.port, packet);
            m_nextPacket = m_nextPacket && at - *m_nextPacket < kPacketInterval ? *m_nextPacket + kPacketInterval
                                                                                : at + kPacketInterval;
        }
    }
    for (const auto& system : m_systems) {
        if (system->heard.size() == kMostBlocksHeld)
            system->heard.pop_front();
        system->heard.emplace_back(at + system->system.lag, frame);
        run(*system);
    }
}

void LampBeat::soundStateChanged(SoundCaptureState state)
{
    if (state == m_captureState)
        return;
    m_captureState = state;
    if (state != SoundCaptureState::Capturing)
        stopMusic();
    if (onCaptureStateChanged)
        onCaptureStateChanged(state);
}

void LampBeat::stopMusic()
{
    m_lastSound.reset();
    for (const auto& system : m_systems) {
        system->heard.clear();
        system->planner.playerStopped();
        if (!m_playerStopped)
            system->planner.playerPlaying();
        run(*system);
    }
}

void LampBeat::run(System& system)
{
    const SteadyTime now = m_clock.now();
    while (!system.heard.empty() && system.heard.front().first <= now) {
        system.planner.heard(system.heard.front().first, system.heard.front().second);
        system.heard.pop_front();
    }
    while (const std::optional<LampStateCommand> command = system.planner.next(now))
        if (onPulse)
            onPulse(system.system.id, *command);
    arm(system);
}

void LampBeat::arm(System& system)
{
    const SteadyTime now = m_clock.now();
    std::optional<milliseconds> wait = system.planner.wait(now);
    if (!system.heard.empty()) {
        const milliseconds until =
            std::max(std::chrono::ceil<milliseconds>(system.heard.front().first - now), milliseconds{0});
        wait = wait ? std::min(*wait, until) : until;
    }
    if (wait)
        system.timer->start(*wait, [this, &system] { run(system); });
    else
        system.timer->cancel();
}

} // namespace glowcast
