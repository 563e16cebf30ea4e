// The platform adapters' costs: a cover travelling from the poster to an observer over a private
// session bus, beside the bytes copied once in memory; and one atomic save of the preferences.

#include "adapters/dbus/dbus_notification_centre.h"
#include "adapters/files/file_preferences.h"
#include "support/private_session_bus.h"
#include "support/recording_log.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

namespace {

using glowcast::NullLog;

std::vector<std::uint8_t> coverBytes(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t index = 0; index < size; ++index)
        bytes[index] = static_cast<std::uint8_t>(index * 2654435761u >> 24);
    return bytes;
}

void BM_CoverOverTheSessionBus(benchmark::State& state)
{
    glowcast::testing::PrivateSessionBus bus;
    if (bus.address().isEmpty()) {
        state.SkipWithError("dbus-daemon did not start");
        return;
    }
    {
        const QDBusConnection listener = QDBusConnection::connectToBus(bus.address(), QStringLiteral("listener"));
        const QDBusConnection poster = QDBusConnection::connectToBus(bus.address(), QStringLiteral("poster"));
        NullLog log;
        glowcast::DBusNotificationCentre centre{log, listener};
        std::size_t delivered = 0;
        centre.addObserver("CoverdeckAlbumCoverChanged", "Coverdeck",
                           [&](const glowcast::Notification&) { ++delivered; });
        const glowcast::Notification notification{"CoverdeckAlbumCoverChanged",
                                                  "Coverdeck",
                                                  {{"cover", coverBytes(static_cast<std::size_t>(state.range(0)))}}};

        for (auto _ : state) {
            const std::size_t before = delivered;
            if (!glowcast::postNotification(poster, notification).ok()) {
                state.SkipWithError("the bus refused the notification");
                break;
            }
            const QDeadlineTimer deadline(60'000);
            while (delivered == before && !deadline.hasExpired())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            if (delivered == before) {
                state.SkipWithError("the notification did not arrive within 60 s");
                break;
            }
        }
        state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("listener"));
    QDBusConnection::disconnectFromBus(QStringLiteral("poster"));
}
BENCHMARK(BM_CoverOverTheSessionBus)
    ->Arg(16 << 10)
    ->Arg(1 << 20)
    ->Arg(8 << 20)
    ->Arg(32 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The floor: the same bytes copied once in memory.
void BM_CopyOfTheCoverBytes(benchmark::State& state)
{
    const std::vector<std::uint8_t> source = coverBytes(static_cast<std::size_t>(state.range(0)));
    std::vector<std::uint8_t> target(source.size());
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), source.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_CopyOfTheCoverBytes)->Arg(16 << 10)->Arg(1 << 20)->Arg(8 << 20)->Arg(32 << 20);

// One save of a ten-lamp selection: write a temporary file, flush it to disk, rename it.
void BM_SaveTheLampSelection(benchmark::State& state)
{
    QTemporaryDir directory;
    NullLog log;
    glowcast::FilePreferences preferences{log, directory.path().toStdString()};
    preferences.setText("username", "b4e1c0ffee");
    std::vector<glowcast::LampEntry> lamps;
    for (int index = 1; index <= 10; ++index)
        lamps.push_back({std::to_string(index), "Lamp " + std::to_string(index), index % 2 == 0});
    for (auto _ : state) {
        lamps.front().enabled = !lamps.front().enabled;
        preferences.setLamps(lamps);
    }
}
BENCHMARK(BM_SaveTheLampSelection)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
