#pragma once

// A PipeWire sound server of the test's own: pipewire with a null sink as its only output, and
// wireplumber to link streams and name that sink the default, in a temporary runtime directory with
// their own private session bus, configuration and state. The desktop's sound server is never
// reached: this process is pointed at the private one while the object lives.

#include "support/private_session_bus.h"
#include "support/processes.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>
#include <optional>
#include <random>

namespace glowcast::testing {

inline constexpr int kClickTrackRate = 48'000;
inline constexpr std::chrono::milliseconds kClickEvery{500}; // 120 BPM

// A mono 16-bit WAV of a click track: 5 ms of 2 kHz every 500 ms (or as given) from 1 s on, over a noise
// bed that fades in over the first 0.75 s (so that the sound's start is hardly a beat) and out over its
// last 0.4 s.
inline bool writeClickTrack(const QString& path, int clicks,
                            std::chrono::duration<double> every = std::chrono::milliseconds(kClickEvery))
{
    std::mt19937 random{5};
    std::uniform_real_distribution<double> noise{-0.1, 0.1};
    const double seconds = 1.5 + every.count() * clicks;
    const auto frames = static_cast<quint32>(seconds * kClickTrackRate);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + frames * 2);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << quint32(kClickTrackRate) << quint32(kClickTrackRate * 2)
        << quint16(2) << quint16(16);
    out.writeRawData("data", 4);
    out << quint32(frames * 2);
    for (quint32 i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kClickTrackRate;
        const bool click = t >= 1.0 && t < 1.0 + every.count() * clicks && std::fmod(t - 1.0, every.count()) < 0.005;
        const double bed = std::clamp(std::min(t / 0.75, (seconds - t) / 0.4), 0.0, 1.0) * noise(random);
        out << qint16(std::lround((bed + (click ? 0.5 * std::sin(2 * std::numbers::pi * 2000 * t) : 0.0)) * 32767));
    }
    return out.status() == QDataStream::Ok;
}

class PrivatePipeWire {
public:
    PrivatePipeWire()
    {
        const QString root = m_directory.path();
        for (const char* folder : {"runtime", "state", "config/wireplumber/main.lua.d"})
            QDir(root).mkpath(QString::fromLatin1(folder));
        // Only the null sink: no sound card, camera or Bluetooth device of the machine's is opened. Cycles of
        // 170 ms, so that a player that a loaded machine lets wait is not cut short (its gap would be heard
        // as a beat).
        write(QStringLiteral("pipewire.conf"), R"(context.properties = { core.daemon = true core.name = pipewire-0
    default.clock.rate = 48000 default.clock.quantum = 8192 default.clock.min-quantum = 8192
    default.clock.max-quantum = 8192 }
context.spa-libs = { audio.convert.* = audioconvert/libspa-audioconvert support.* = support/libspa-support }
context.modules = [
    { name = libpipewire-module-protocol-native } { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-node-factory } { name = libpipewire-module-client-node }
    { name = libpipewire-module-access } { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory } { name = libpipewire-module-session-manager }
]
context.objects = [
    { factory = spa-node-factory args = { factory.name = support.node.driver node.name = Dummy-Driver
        node.group = pipewire.dummy priority.driver = 20000 } }
    { factory = adapter args = { factory.name = support.null-audio-sink node.name = glowcast-test-sink
        media.class = Audio/Sink audio.position = [ FL FR ] object.linger = true monitor.channel-volumes = true } }
]
)");
        write(QStringLiteral("config/wireplumber/main.lua.d/51-glowcast-test.lua"),
              "alsa_monitor.enabled = false\nv4l2_monitor.enabled = false\nlibcamera_monitor.enabled = false\n");
        if (m_bus.address().isEmpty())
            return;
        m_environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"PIPEWIRE_REMOTE", "PULSE_SERVER", "DISPLAY", "WAYLAND_DISPLAY"})
            m_environment.remove(QString::fromLatin1(name));
        m_environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), root + QStringLiteral("/runtime"));
        m_environment.insert(QStringLiteral("PIPEWIRE_RUNTIME_DIR"), root + QStringLiteral("/runtime"));
        m_environment.insert(QStringLiteral("XDG_STATE_HOME"), root + QStringLiteral("/state"));
        m_environment.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/config"));
        m_environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus.address());
        m_server.emplace(QStringLiteral("pipewire"),
                         QStringList{QStringLiteral("-c"), root + QStringLiteral("/pipewire.conf")}, m_environment);
        if (!pollFor([&] { return QFile::exists(root + QStringLiteral("/runtime/pipewire-0")); }, 10'000))
            return;
        m_manager.emplace(QStringLiteral("wireplumber"), QStringList{}, m_environment);
        // Ready once the session manager has named the null sink the default output.
        running = pollFor(
            [&] {
                return run(QStringLiteral("pw-metadata"), {QStringLiteral("-n"), QStringLiteral("default")})
                           .out.find("glowcast-test-sink") != std::string::npos;
            },
            15'000);
        if (running)
            qputenv("PIPEWIRE_RUNTIME_DIR", (root + QStringLiteral("/runtime")).toUtf8());
    }
    ~PrivatePipeWire()
    {
        if (running)
            qunsetenv("PIPEWIRE_RUNTIME_DIR");
    }
    PrivatePipeWire(const PrivatePipeWire&) = delete;
    PrivatePipeWire& operator=(const PrivatePipeWire&) = delete;

    // A PipeWire tool (pw-play, pw-cli) run against this server to its end.
    CommandRun run(const QString& program, const QStringList& arguments) const
    {
        return runProgram(program, arguments, m_environment, 10'000);
    }
    // The same, left running.
    [[nodiscard]] std::unique_ptr<Child> start(const QString& program, const QStringList& arguments) const
    {
        return std::make_unique<Child>(program, arguments, m_environment);
    }
    [[nodiscard]] QString file(const QString& name) const { return m_directory.filePath(name); }

    bool running = false; // false when PipeWire cannot start here

private:
    void write(const QString& name, const char* text) const
    {
        QFile out(file(name));
        if (out.open(QIODevice::WriteOnly))
            out.write(text);
    }

    QTemporaryDir m_directory;
    PrivateSessionBus m_bus; // wireplumber's: without a session bus it does not start
    QProcessEnvironment m_environment;
    std::optional<Child> m_server;
    std::optional<Child> m_manager;
};

} // namespace glowcast::testing
