#include "core/beat/sound_analyser.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>

namespace glowcast {

namespace {

constexpr float kAnalysedSeconds = 0.04F;
// The bands' edges in Hz: an octave at the bottom, then steps of about 0.45 octave up to 7 kHz, and
// the top band to 9 kHz.
constexpr std::array<float, kSoundBands + 1> kBandEdges{43,   86,   118,  161,  220,  302,  413,  566, 775,
                                                        1061, 1452, 1988, 2722, 3727, 5102, 7000, 9000};
constexpr float kBandRangeDb = 60;
// The strongest frequency is looked for between these, as WLED's sound sync carries it.
constexpr float kLowestPeakHz = 1;
constexpr float kHighestPeakHz = 11025;
// Hann's equivalent noise bandwidth in bins: a tone's power spreads over this many.
constexpr float kHannBandwidth = 1.5F;
// About a bin's power at the noise floor: a look that rises from silence is measured against this.
constexpr float kQuietPower = GainControl::kNoiseFloor * GainControl::kNoiseFloor / 2048;

std::size_t analysedSize(int sampleRate)
{
    return std::bit_ceil(static_cast<std::size_t>(static_cast<float>(sampleRate) * kAnalysedSeconds));
}

std::uint16_t zeroCrossings(std::span<const float> block)
{
    std::size_t count = 0;
    for (std::size_t i = 1; i < block.size(); ++i)
        count += (block[i - 1] < 0) != (block[i] < 0);
    return static_cast<std::uint16_t>(std::min<std::size_t>(count, 0xffff));
}

float rootMeanSquare(std::span<const float> block)
{
    double sum = 0;
    for (const float sample : block)
        sum += static_cast<double>(sample) * sample;
    return block.empty() ? 0 : static_cast<float>(std::sqrt(sum / static_cast<double>(block.size())));
}

} // namespace

SoundAnalyser::SoundAnalyser(int sampleRate)
    : m_sampleRate(sampleRate), m_history(2 * analysedSize(sampleRate)), m_spectrum(analysedSize(sampleRate)),
      m_powers(m_spectrum.size() / 2 + 1)
{
}

SoundFrame SoundAnalyser::analyse(std::span<const float> block)
{
    const std::size_t fresh = std::min(block.size(), m_history.size());
    std::shift_left(m_history.begin(), m_history.end(), static_cast<long>(fresh));
    std::copy(block.end() - static_cast<long>(fresh), block.end(), m_history.end() - static_cast<long>(fresh));
    const float seconds = static_cast<float>(block.size()) / static_cast<float>(m_sampleRate);

    SoundFrame frame;
    frame.zeroCrossings = zeroCrossings(block);
    const auto [level, smoothLevel] = m_gain.levels(rootMeanSquare(block), seconds);
    frame.level = level;
    frame.smoothLevel = smoothLevel;
    // The beats are looked for at least every quarter window, so that a click that came late in one
    // look is seen well inside the next, however long the block; the last look ends with the block.
    const std::size_t hop = m_spectrum.size() / 4;
    const std::size_t looks = std::clamp<std::size_t>((block.size() + hop - 1) / hop, 1, m_spectrum.size() / hop);
    const std::vector<float>* amplitudes = nullptr;
    for (std::size_t look = looks; look-- > 0;) {
        const std::size_t back = std::min(block.size() * look / looks, m_history.size() - m_spectrum.size());
        amplitudes = &m_spectrum.amplitudes(std::span{m_history}.first(m_history.size() - back));
        frame.beat |= m_onsets.onset(flux(*amplitudes), seconds / static_cast<float>(looks));
    }
    // A click at the end of the block before may be seen only now, in a block that is silent itself.
    frame.silent = level == 0 && !frame.beat;
    if (!frame.silent)
        bandsAndPeak(frame, *amplitudes, m_gain.gain());
    return frame;
}

// How much power the spectrum gained since the look before, against the power it had. Steady noise
// gains about half its power in half its bins and loses it in the others, block after block; a beat
// gains many times its own.
float SoundAnalyser::flux(const std::vector<float>& amplitudes)
{
    float rise = 0;
    float before = kQuietPower * static_cast<float>(amplitudes.size());
    for (std::size_t bin = 0; bin < amplitudes.size(); ++bin) {
        const float power = amplitudes[bin] * amplitudes[bin];
        rise += std::max(power - m_powers[bin], 0.0F);
        before += m_powers[bin];
        m_powers[bin] = power;
    }
    return rise / before;
}

void SoundAnalyser::bandsAndPeak(SoundFrame& frame, const std::vector<float>& amplitudes, float gain) const
{
    const float binHz = static_cast<float>(m_sampleRate) / static_cast<float>(m_spectrum.size());
    for (std::size_t band = 0; band < kSoundBands; ++band) {
        const auto first = static_cast<std::size_t>(std::ceil(kBandEdges[band] / binHz));
        const auto end = std::min(static_cast<std::size_t>(std::ceil(kBandEdges[band + 1] / binHz)), amplitudes.size());
        float power = 0;
        for (std::size_t bin = first; bin < end; ++bin)
            power += amplitudes[bin] * amplitudes[bin];
        const float amplitude = std::sqrt(power / kHannBandwidth) * gain / 255;
        const float fromTop = amplitude > 0 ? 20 * std::log10(amplitude) : -kBandRangeDb;
        frame.bands[band] = static_cast<std::uint8_t>(std::clamp(255 * (1 + fromTop / kBandRangeDb), 0.0F, 255.0F));
    }

    // The strongest bin above the lowest band's edge, then the top of the parabola through it and its
    // neighbours' logarithms, which finds a tone between two bins to a few hertz.
    const auto first = static_cast<std::size_t>(std::ceil(kBandEdges.front() / binHz));
    const auto end = std::min(static_cast<std::size_t>(kHighestPeakHz / binHz) + 1, amplitudes.size() - 1);
    const auto strongest =
        std::max_element(amplitudes.begin() + static_cast<long>(first), amplitudes.begin() + static_cast<long>(end));
    const auto bin = static_cast<std::size_t>(strongest - amplitudes.begin());
    const float left = std::log(amplitudes[bin - 1] + 1e-9F);
    const float middle = std::log(amplitudes[bin] + 1e-9F);
    const float right = std::log(amplitudes[bin + 1] + 1e-9F);
    const float curvature = left - 2 * middle + right;
    const float shift = curvature < 0 ? std::clamp(0.5F * (left - right) / curvature, -0.5F, 0.5F) : 0;
    frame.majorPeakHz = std::clamp((static_cast<float>(bin) + shift) * binHz, kLowestPeakHz, kHighestPeakHz);
    frame.peakMagnitude = amplitudes[bin] * gain;
}

} // namespace glowcast
