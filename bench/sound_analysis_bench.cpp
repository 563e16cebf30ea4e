// What listening to the music costs: one second of 48 kHz sound analysed in blocks of 10 and 20 ms.
// The time per iteration is the share of one core the analysis takes while capturing (1 ms: 0.1 %).
// The sound is made here, music-like and the same on every run: a chord, a kick drum on each beat at
// 120 BPM and a hi-hat between. Beside it, how far the beats found lie from the clicks of a click
// track (5 ms of 2 kHz every 0.4987 s, so that
// the clicks fall at every place in a block, over a noise bed 14 dB below): a beat counts at the end of its block.
#include "core/beat/sound_analyser.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {

constexpr int kRate = 48'000;
constexpr double kClickEvery = 0.4987;

std::vector<float> musicLike()
{
    std::mt19937 random{3};
    std::uniform_real_distribution<float> noise{-1, 1};
    std::vector<float> samples(kRate);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double sinceBeat = std::fmod(t, 0.5);
        const double sinceHat = std::fmod(t + 0.25, 0.5);
        double sample = 0;
        for (const double hz : {220.0, 277.2, 329.6})
            sample += 0.1 * std::sin(2 * std::numbers::pi * hz * t);
        sample += 0.6 * std::exp(-sinceBeat / 0.08) *
                  std::sin(2 * std::numbers::pi * (60 + 80 * std::exp(-sinceBeat / 0.02)) * sinceBeat);
        sample += 0.08 * std::exp(-sinceHat / 0.02) * noise(random);
        samples[i] = static_cast<float>(sample);
    }
    return samples;
}

void BM_AnalyseOneSecond(benchmark::State& state)
{
    const std::vector<float> second = musicLike();
    const auto block = static_cast<std::size_t>(state.range(0)) * kRate / 1000;
    glowcast::SoundAnalyser analyser{kRate};
    int beats = 0;
    for (auto _ : state) {
        beats = 0;
        for (std::size_t at = 0; at + block <= second.size(); at += block)
            beats += analyser.analyse(std::span{second}.subspan(at, block)).beat ? 1 : 0;
    }
    state.counters["beats"] = beats;
}
BENCHMARK(BM_AnalyseOneSecond)->Arg(10)->Arg(20)->Unit(benchmark::kMillisecond);

void BM_ClickTrackOnsets(benchmark::State& state)
{
    const auto block = static_cast<std::size_t>(state.range(0)) * kRate / 1000;
    std::mt19937 random{7};
    std::uniform_real_distribution<float> noise{-0.1F, 0.1F};
    std::vector<float> track(60 * kRate);
    for (std::size_t i = 0; i < track.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        const bool click = std::fmod(t + 0.25, kClickEvery) < 0.005;
        track[i] = noise(random) + (click ? 0.5F * static_cast<float>(std::sin(2 * std::numbers::pi * 2000 * t)) : 0);
    }
    std::vector<double> errors;
    int extra = 0;
    for (auto _ : state) {
        glowcast::SoundAnalyser analyser{kRate};
        errors.clear();
        extra = 0;
        for (std::size_t at = 0; at + block <= track.size(); at += block) {
            if (!analyser.analyse(std::span{track}.subspan(at, block)).beat)
                continue;
            const double end = static_cast<double>(at + block) / kRate;
            const double error = end - (std::round((end + 0.25) / kClickEvery) * kClickEvery - 0.25);
            if (std::abs(error) < 0.1)
                errors.push_back(error * 1000);
            else
                ++extra;
        }
    }
    std::ranges::sort(errors);
    state.counters["clicks"] = 120;
    state.counters["found"] = static_cast<double>(errors.size());
    state.counters["extra"] = extra;
    state.counters["median_ms"] = errors.empty() ? 0 : errors[errors.size() / 2];
    state.counters["p95_ms"] = errors.empty() ? 0 : errors[errors.size() * 95 / 100];
}
BENCHMARK(BM_ClickTrackOnsets)->Arg(10)->Arg(20)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
