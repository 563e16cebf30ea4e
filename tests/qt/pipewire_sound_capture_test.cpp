#include "adapters/pipewire/pipewire_sound_capture.h"
#include "adapters/pipewire/sound_blocks.h"
#include "support/private_pipewire.h"
#include "support/recording_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace glowcast {
namespace {

using namespace std::chrono_literals;
using testing::PrivatePipeWire;

constexpr int kRate = testing::kClickTrackRate;
constexpr int kClicks = 12;
constexpr auto kClickEvery = testing::kClickEvery;

class RecordingSoundListener final : public SoundListener {
public:
    std::vector<SteadyTime> beats;
    std::vector<SoundCaptureState> states;
    void heard(SteadyTime at, const SoundFrame& frame) override
    {
        if (frame.beat)
            beats.push_back(at);
    }
    void soundStateChanged(SoundCaptureState state) override { states.push_back(state); }
    [[nodiscard]] bool in(SoundCaptureState state) const { return !states.empty() && states.back() == state; }
};

class PipeWireSoundCaptureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!pipewire.running)
            GTEST_SKIP() << "PipeWire cannot start here (pipewire and wireplumber of Debian's packages, in a private "
                            "runtime directory): no sound server to capture from";
    }
    // Whether Glowcast's capture stream is in the graph: it is the only link to the sink's monitor.
    [[nodiscard]] bool captureHeld() const
    {
        return pipewire.run(QStringLiteral("pw-cli"), {QStringLiteral("ls"), QStringLiteral("Node")})
                   .out.find("glowcast-beat") != std::string::npos;
    }

    PrivatePipeWire pipewire;
    RecordingLog log;
    RecordingSoundListener listener;
    PipeWireSoundCapture capture{log};
};

TEST_F(PipeWireSoundCaptureTest, HearsEachClickOfATrackPlayingOnTheDefaultOutputAndNothingElse)
{
    ASSERT_TRUE(testing::writeClickTrack(pipewire.file(QStringLiteral("clicks.wav")), kClicks));
    capture.start(listener);
    ASSERT_TRUE(testing::waitFor([&] { return listener.in(SoundCaptureState::Waiting); }, 10'000));
    EXPECT_FALSE(captureHeld());

    const SteadyTime played = std::chrono::steady_clock::now();
    const auto player = pipewire.start(QStringLiteral("pw-play"), {pipewire.file(QStringLiteral("clicks.wav"))});
    ASSERT_TRUE(testing::waitFor([&] { return listener.in(SoundCaptureState::Capturing); }, 10'000));
    ASSERT_TRUE(testing::waitFor([&] { return listener.in(SoundCaptureState::Waiting); }, 20'000));
    EXPECT_EQ(player->exitCode(), 0);
    EXPECT_FALSE(captureHeld());

    // Each click heard, in its place: the clicks' spacing holds beat by beat around the pipeline's latency,
    // found as the first click's time that the most beats agree with. The sound's start may count as a
    // beat (the first click comes a second later). A machine loaded far beyond its cores (a full parallel
    // test run) may keep the player or the server waiting and cut a gap into the sound: one click lost or
    // displaced and one beat more pass.
    std::erase_if(listener.beats, [&](SteadyTime beat) { return beat < played + 500ms; });
    const auto onClicks = [&](SteadyTime firstClick) {
        return std::ranges::count_if(listener.beats, [&](SteadyTime beat) {
            const auto click = std::clamp<long>((beat - firstClick + kClickEvery / 2) / kClickEvery, 0, kClicks - 1);
            return std::chrono::abs(beat - firstClick - click * kClickEvery) <= 30ms;
        });
    };
    SteadyTime firstClick = played;
    for (const SteadyTime beat : listener.beats)
        for (int click = 0; click < kClicks; ++click)
            if (onClicks(beat - click * kClickEvery) > onClicks(firstClick))
                firstClick = beat - click * kClickEvery;
    EXPECT_GE(onClicks(firstClick), kClicks - 1);
    EXPECT_LE(listener.beats.size(), std::size_t{kClicks + 1});
    RecordProperty("firstClickHeardAfterPlayStartedMs",
                   static_cast<int>((firstClick - played - 1s) / 1ms)); // pw-play's start and the pipeline

    capture.stop();
    EXPECT_EQ(listener.states.back(), SoundCaptureState::Off);
}

TEST(PipeWireSoundCaptureAloneTest, IsUnavailableAfterOneLogLineWithoutASoundServer)
{
    QTemporaryDir nowhere; // a runtime directory without a server's socket
    qputenv("PIPEWIRE_RUNTIME_DIR", nowhere.path().toUtf8());
    RecordingLog log;
    RecordingSoundListener listener;
    PipeWireSoundCapture capture{log};
    capture.start(listener);
    EXPECT_TRUE(testing::waitFor([&] { return listener.in(SoundCaptureState::Unavailable); }, 10'000));
    capture.stop();
    qunsetenv("PIPEWIRE_RUNTIME_DIR");
    EXPECT_EQ(listener.states, (std::vector{SoundCaptureState::Unavailable, SoundCaptureState::Off}));
    ASSERT_EQ(log.lines.size(), 1U);
    EXPECT_TRUE(log.lines[0].starts_with("sound: no sound server to listen to (")) << log.lines[0];
}

// What the server hands over, right or wrong: blocks of 20 ms of the whole frames within its memory,
// mixed down to mono, a sample that is not a number silent, each stamped by its last sample.
TEST(SoundBlocksTest, TakesTheWholeFramesWithinTheMemoryMixedDown)
{
    struct Row {
        const char* what;
        int channels;
        std::uint32_t offset;
        std::uint32_t size;
        int blocks;
        float first; // the first block's first two samples
        float second;
        std::chrono::milliseconds firstHeard; // the first block's stamp against the buffer's
    };
    const Row rows[] = {
        {"mono", 1, 0, 4 * 960, 1, 0, 0.25F, 0ms},
        {"stereo", 2, 0, 8 * 960, 1, 0.125F, 0.375F, 0ms},
        {"an empty chunk", 1, 0, 0, 0, 0, 0, 0ms},
        {"an offset past the memory", 1, 8 * 960 + 4, 4, 0, 0, 0, 0ms},
        {"a size past the memory", 1, 0, 1U << 31, 2, 0, 0.25F, -20ms},
        {"a part frame at the end", 2, 0, 8 * 960 - 4, 0, 0, 0, 0ms},
    };
    std::vector<float> memory(2 * 960);
    for (std::size_t i = 0; i < memory.size(); ++i)
        memory[i] = i % 2 == 0 ? 0.5F : 0.25F;
    memory[0] = std::numeric_limits<float>::quiet_NaN();
    const SteadyTime heard{10s};
    for (const Row& row : rows) {
        SoundBlocks blocks{kRate, row.channels};
        std::vector<std::pair<std::vector<float>, SteadyTime>> taken;
        blocks.take(std::as_bytes(std::span{memory}), row.offset, row.size, heard,
                    [&](std::span<const float> samples, SteadyTime at) {
                        taken.emplace_back(std::vector(samples.begin(), samples.end()), at);
                    });
        ASSERT_EQ(taken.size(), std::size_t(row.blocks)) << row.what;
        if (taken.empty())
            continue;
        EXPECT_EQ(taken[0].first.size(), 960U) << row.what;
        EXPECT_EQ(taken[0].first[0], row.first) << row.what;
        EXPECT_EQ(taken[0].first[1], row.second) << row.what;
        EXPECT_EQ(taken[0].second, heard + row.firstHeard) << row.what;
    }
}

} // namespace
} // namespace glowcast
