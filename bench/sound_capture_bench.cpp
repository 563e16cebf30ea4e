// What hearing the desktop costs and how well it hears: a click track of 60 s at 120 BPM (a click every
// 498.7 ms) played with
// pw-play on a private PipeWire, heard by PipeWireSoundCapture. Prints, as Markdown, the CPU this process
// took while capturing (the capture's thread and the main thread's frames), the frames a second, and how
// far each beat lies from its click on the clicks' grid, whose start is the one most beats agree with.
// Run from the build tree with GLOWCAST_MODULE_DIR set to its modules folder.
#include "adapters/pipewire/pipewire_sound_capture.h"
#include "support/private_pipewire.h"
#include "support/recording_log.h"

#include <QCoreApplication>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using namespace std::chrono_literals;
using glowcast::SteadyTime;

constexpr int kClicks = 120;
// A little under 500 ms, so that the clicks fall at every place in a block of 20 ms.
constexpr std::chrono::microseconds kClickEvery{498'700};

std::chrono::microseconds cpuTime()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return std::chrono::seconds(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           std::chrono::microseconds(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

class Listener final : public glowcast::SoundListener {
public:
    std::vector<SteadyTime> beats;
    int frames = 0;
    glowcast::SoundCaptureState state = glowcast::SoundCaptureState::Off;
    SteadyTime capturing;
    std::chrono::microseconds cpuAtCapturing{};
    void heard(SteadyTime at, const glowcast::SoundFrame& frame) override
    {
        ++frames;
        if (frame.beat)
            beats.push_back(at);
    }
    void soundStateChanged(glowcast::SoundCaptureState now) override
    {
        state = now;
        if (now == glowcast::SoundCaptureState::Capturing) {
            capturing = std::chrono::steady_clock::now();
            cpuAtCapturing = cpuTime();
        }
    }
};

double percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(share * static_cast<double>(values.size() - 1))];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    glowcast::testing::PrivatePipeWire pipewire;
    if (!pipewire.running) {
        std::puts("PipeWire cannot start here: nothing measured");
        return 1;
    }
    const QString track = pipewire.file(QStringLiteral("clicks.wav"));
    if (!glowcast::testing::writeClickTrack(track, kClicks, kClickEvery))
        return 1;
    glowcast::RecordingLog log;
    Listener listener;
    glowcast::PipeWireSoundCapture capture{log};
    capture.start(listener);
    using glowcast::SoundCaptureState;
    if (!glowcast::testing::waitFor([&] { return listener.state == SoundCaptureState::Waiting; }, 10'000))
        return 1;
    const SteadyTime played = std::chrono::steady_clock::now();
    const auto player = pipewire.start(QStringLiteral("pw-play"), {track});
    glowcast::testing::waitFor([&] { return listener.state == SoundCaptureState::Capturing; }, 10'000);
    glowcast::testing::waitFor([&] { return listener.state == SoundCaptureState::Waiting; }, 120'000);
    const auto cpu = cpuTime() - listener.cpuAtCapturing;
    const auto wall = std::chrono::steady_clock::now() - listener.capturing;
    capture.stop();

    std::erase_if(listener.beats, [&](SteadyTime beat) { return beat < played + 500ms; });
    const auto offClick = [&](SteadyTime firstClick, SteadyTime beat) {
        const auto click = std::clamp<long>((beat - firstClick + kClickEvery / 2) / kClickEvery, 0, kClicks - 1);
        return beat - firstClick - click * kClickEvery;
    };
    const auto onClicks = [&](SteadyTime firstClick) {
        return std::ranges::count_if(
            listener.beats, [&](SteadyTime beat) { return std::chrono::abs(offClick(firstClick, beat)) <= 30ms; });
    };
    SteadyTime firstClick = played;
    for (const SteadyTime beat : listener.beats)
        for (int click = 0; click < kClicks; ++click)
            if (onClicks(beat - click * kClickEvery) > onClicks(firstClick))
                firstClick = beat - click * kClickEvery;
    // The grid's start then moved to the median of the matched beats, so that no one beat sets it.
    std::vector<std::chrono::nanoseconds> offsets;
    for (const SteadyTime beat : listener.beats)
        if (const auto off = offClick(firstClick, beat); std::chrono::abs(off) <= 30ms)
            offsets.push_back(off);
    if (!offsets.empty()) {
        std::nth_element(offsets.begin(), offsets.begin() + static_cast<long>(offsets.size() / 2), offsets.end());
        firstClick += offsets[offsets.size() / 2];
    }
    std::vector<double> errors;
    for (const SteadyTime beat : listener.beats)
        if (const auto off = offClick(firstClick, beat); std::chrono::abs(off) <= 100ms)
            errors.push_back(std::chrono::duration<double, std::milli>(std::chrono::abs(off)).count());

    const double seconds = std::chrono::duration<double>(wall).count();
    std::printf("| measure | value |\n|---|---|\n");
    std::printf("| capturing | %.1f s |\n", seconds);
    std::printf("| CPU of the process while capturing | %.2f %% of one core (%.0f ms) |\n",
                100.0 * std::chrono::duration<double>(cpu).count() / seconds,
                std::chrono::duration<double, std::milli>(cpu).count());
    std::printf("| frames a second | %.1f |\n", listener.frames / seconds);
    std::printf("| clicks heard within 30 ms of their place | %ld of %d; %zu beats in all |\n", onClicks(firstClick),
                kClicks, listener.beats.size());
    std::printf("| beat to its click on the grid | median %.1f ms, 95th percentile %.1f ms, most %.1f ms |\n",
                percentile(errors, 0.5), percentile(errors, 0.95), percentile(errors, 1.0));
    std::printf("| first click heard after pw-play started, less its place in the track | %lld ms |\n",
                static_cast<long long>((firstClick - played - 1s) / 1ms));
    return player->exitCode() == 0 ? 0 : 1;
}
