#include "core/beat/pulse_planner.h"
#include "core/beat/sound_analyser.h"
#include "core/beat/sound_sync_packet.h"
#include "core/lamp_systems/system_kinds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <random>

namespace glowcast {
namespace {

constexpr int kRate = 48'000;
constexpr std::size_t kBlock = 480; // 10 ms

// A signal of `seconds`, sample by sample from the time in seconds.
template <typename Sample> std::vector<float> signal(double seconds, Sample sample)
{
    std::vector<float> samples(static_cast<std::size_t>(seconds * kRate));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = sample(static_cast<double>(i) / kRate);
    return samples;
}

std::vector<SoundFrame> analysed(const std::vector<float>& samples)
{
    SoundAnalyser analyser{kRate};
    std::vector<SoundFrame> frames;
    for (std::size_t at = 0; at + kBlock <= samples.size(); at += kBlock)
        frames.push_back(analyser.analyse(std::span{samples}.subspan(at, kBlock)));
    return frames;
}

// The end of each block with a beat, in seconds.
std::vector<double> beats(const std::vector<SoundFrame>& frames)
{
    std::vector<double> found;
    for (std::size_t i = 0; i < frames.size(); ++i)
        if (frames[i].beat)
            found.push_back(static_cast<double>((i + 1) * kBlock) / kRate);
    return found;
}

TEST(SoundAnalyserTest, FindsEachClickWithin30MsAlsoOverNoise)
{
    // A click track, 5 ms of a 2 kHz tone every 0.4987 s from 0.2487 s on, so that the clicks fall at
    // every place in a block, bare and over a noise bed 14 dB below them (whose start may count as a beat).
    for (const float bed : {0.0F, 0.1F}) {
        std::mt19937 random{7};
        std::uniform_real_distribution<float> noise{-bed, bed};
        auto found = beats(analysed(signal(4, [&](double t) {
            const bool click = std::fmod(t + 0.25, 0.4987) < 0.005;
            return noise(random) + (click ? 0.5 * std::sin(2 * std::numbers::pi * 2000 * t) : 0.0);
        })));
        std::erase_if(found, [](double at) { return at < 0.1; });
        ASSERT_EQ(found.size(), 8u) << "bed " << bed;
        for (std::size_t i = 0; i < found.size(); ++i)
            EXPECT_NEAR(found[i], 0.2487 + 0.4987 * static_cast<double>(i), 0.030) << "bed " << bed << ", click " << i;
    }
}

TEST(SoundAnalyserTest, SilenceIsAnEmptyFrame)
{
    for (const SoundFrame& frame : analysed(std::vector<float>(kRate)))
        EXPECT_EQ(frame, SoundFrame{});
}

TEST(SoundAnalyserTest, FindsAtMostOneBeatIn10SecondsOfWhiteNoise)
{
    std::mt19937 random{7};
    std::uniform_real_distribution<float> noise{-0.3F, 0.3F};
    EXPECT_LE(beats(analysed(signal(10, [&](double) { return noise(random); }))).size(), 1u); // its start, at most
}

TEST(SoundAnalyserTest, TheMajorPeakFollowsASweep)
{
    // 100 Hz to 8 kHz over 4 s, rising exponentially: the frequency at t is 100 * 80^(t/4).
    const double rise = std::log(80.0) / 4;
    const auto frames = analysed(signal(
        4, [&](double t) { return 0.5 * std::sin(2 * std::numbers::pi * 100 * (std::exp(rise * t) - 1) / rise); }));
    for (std::size_t i = 5; i < frames.size(); i += 5) {
        // The ~43 ms analysed end with the block: their middle is 21 ms before its end.
        const double hz = 100 * std::exp(rise * (static_cast<double>((i + 1) * kBlock) / kRate - 0.021));
        EXPECT_NEAR(frames[i].majorPeakHz, hz, 0.02 * hz + 5) << "block " << i;
    }
}

TEST(SoundAnalyserTest, ASteadyToneLightsItsBandAtTheUsualLevelWhateverItsVolume)
{
    const std::tuple<double, std::size_t, double> rows[] = {
        {60, 0, 0.5}, {140, 2, 0.05}, {1000, 8, 0.5}, {4400, 13, 0.05}, {8000, 15, 0.5}};
    for (const auto& [hz, band, volume] : rows) {
        const auto frame =
            analysed(signal(0.5, [&](double t) { return volume * std::sin(2 * std::numbers::pi * hz * t); })).back();
        EXPECT_EQ(std::ranges::max_element(frame.bands) - frame.bands.begin(), static_cast<long>(band)) << hz;
        EXPECT_GT(frame.bands[band], 200) << hz << " Hz";
        for (std::size_t far = 0; far < kSoundBands; ++far)
            EXPECT_TRUE((far + 1 >= band && far <= band + 1) || frame.bands[far] < 128) << hz << " Hz, band " << far;
        EXPECT_NEAR(frame.smoothLevel, 160, 10) << hz << " Hz";
        EXPECT_NEAR(frame.zeroCrossings, 2 * hz * kBlock / kRate, 1) << hz << " Hz";
    }
}

TEST(SoundSyncPacketTest, LaysOutAFrameAsWledReadsIt)
{
    const SoundFrame frame{1,   200.5F, true,  false, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
                           440, 12.25F, 0x1234};
    // clang-format off
    EXPECT_EQ(soundSyncPacket(frame, 0xab), (SoundSyncPacket{'0', '0', '0', '0', '2', 0, 0, 0,
                                                             0x00, 0x00, 0x80, 0x3f, 0x00, 0x80, 0x48, 0x43, 1, 0xab,
                                                             1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                                             0x34, 0x12, 0x00, 0x00, 0x44, 0x41, 0x00, 0x00, 0xdc, 0x43}));
    // clang-format on
}

class PulsePlannerTest : public ::testing::Test {
protected:
    const Chromaticity m_red{0.64, 0.33};
    // A bridge's kind with no pace of its own: 10 states a second.
    PulsePlanner m_pulse{BeatMode::Pulse, systemPace(SystemRecord{}, std::nullopt)};
    PulsePlanner m_calm{BeatMode::Calm, systemPace(SystemRecord{}, std::nullopt)};
    std::string m_sent; // "ms:lamp=brightness/fade " for each state sent

    void cover(PulsePlanner& planner, int lamps)
    {
        std::vector<LampStateCommand> states;
        for (int i = 1; i <= lamps; ++i)
            states.push_back({std::to_string(i), LampState{false, 200, m_red, std::nullopt, std::nullopt}});
        planner.setCover(states);
    }
    // From `from` to `to` ms, a block every 20 ms as frame(ms) tells it, and what the planner sends, each
    // as soon as wait() says it may go.
    void play(PulsePlanner& planner, long from, long to, const std::function<SoundFrame(long)>& frame)
    {
        const SteadyTime start = SteadyTime{} + std::chrono::hours{1};
        for (long ms = from, block = from; ms < to;) {
            if (ms == block) {
                planner.heard(start + std::chrono::milliseconds{ms}, frame(ms));
                block += 20;
            }
            while (auto command = planner.next(start + std::chrono::milliseconds{ms})) {
                EXPECT_EQ(command->state.chromaticity, m_red);
                m_sent += std::to_string(ms) + ":" + command->key + "=" + std::to_string(*command->state.brightness) +
                          "/" + std::to_string(*command->state.fadeTenths) + " ";
            }
            const auto wait = planner.wait(start + std::chrono::milliseconds{ms});
            ms = wait ? std::min(block, ms + std::max(wait->count(), 1L)) : block;
        }
    }
    static SoundFrame heard(float smoothLevel, bool beat)
    {
        SoundFrame frame;
        frame.smoothLevel = smoothLevel;
        frame.beat = beat;
        frame.silent = false;
        return frame;
    }
    static SoundFrame beatsEvery(long ms, long every) { return heard(160, ms % every == 0); }
};

TEST_F(PulsePlannerTest, EachBeatRaisesTheLampAndItFallsTowards60PerCentOverTheBeat)
{
    cover(m_pulse, 1);
    play(m_pulse, 0, 1100, [](long ms) { return beatsEvery(ms, ms < 500 ? 500 : 600); });
    EXPECT_EQ(m_sent, "0:1=200/0 100:1=120/4 600:1=200/0 700:1=120/5 ");
}

TEST_F(PulsePlannerTest, KeepsTheSystemsPaceAndOnlyTheNewestStateOfEachLamp)
{
    // A beat each 240 ms for three lamps at 10 states a second: every state is a peak, none a stale fall.
    cover(m_pulse, 3);
    play(m_pulse, 0, 700, [](long ms) { return beatsEvery(ms, 240); });
    EXPECT_EQ(m_sent, "0:1=200/0 100:2=200/0 200:3=200/0 300:1=200/0 400:2=200/0 500:3=200/0 600:1=200/0 ");
}

TEST_F(PulsePlannerTest, CalmFollowsTheSmoothedLoudnessOnceASecondWithoutFlashes)
{
    cover(m_calm, 1);
    play(m_calm, 0, 2500, [](long ms) { return heard(static_cast<float>(ms) * 255 / 3000, true); });
    EXPECT_EQ(m_sent, "0:1=120/10 1000:1=147/10 2000:1=173/10 ");
}

TEST_F(PulsePlannerTest, WhenTheMusicStopsEveryLampIsBackAtItsCoverWithin1Second)
{
    // 2 s of silence from 1000 ms, or the player stopping at 1000 ms with its last sound still heard.
    const std::pair<bool, std::string> rows[] = {{true, "3000:1=200/4 3100:2=200/4 3200:3=200/4 "},
                                                 {false, "1000:1=200/4 1100:2=200/4 1200:3=200/4 "}};
    for (const auto& [silence, sent] : rows) {
        PulsePlanner planner{BeatMode::Pulse, 10};
        cover(planner, 3);
        play(planner, 0, 1000, [](long ms) { return beatsEvery(ms, 500); });
        if (!silence)
            planner.playerStopped();
        m_sent.clear();
        play(planner, 1000, 4000, [&](long ms) { return silence ? SoundFrame{} : beatsEvery(ms, 500); });
        EXPECT_TRUE(m_sent.ends_with(sent)) << m_sent;
        EXPECT_FALSE(planner.playing());
    }
}

} // namespace
} // namespace glowcast
