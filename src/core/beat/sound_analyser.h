#pragma once

#include "core/beat/gain_control.h"
#include "core/beat/onset_detector.h"
#include "core/beat/sound_frame.h"
#include "core/beat/windowed_fft.h"

#include <span>
#include <vector>

namespace glowcast {

// Tells what each block of mono sound holds: its loudness, its spectrum, its strongest frequency and
// whether a beat starts in it. Blocks may be of any length (10 to 25 ms suit the lamps and WLED's sound
// sync). The spectrum is taken over the ~43 ms that end with the block, so that the lowest band holds a
// few bins; the beats are looked for every ~10 ms, so that a click is seen soon after it starts wherever
// it falls in a block.
class SoundAnalyser {
public:
    // sampleRate: in Hz, 8000 or more.
    explicit SoundAnalyser(int sampleRate);

    [[nodiscard]] SoundFrame analyse(std::span<const float> block);

private:
    [[nodiscard]] float flux(const std::vector<float>& amplitudes);
    void bandsAndPeak(SoundFrame& frame, const std::vector<float>& amplitudes, float gain) const;

    int m_sampleRate;
    std::vector<float> m_history;
    WindowedSpectrum m_spectrum;
    std::vector<float> m_powers; // the spectrum's of the look before
    GainControl m_gain;
    OnsetDetector m_onsets;
};

} // namespace glowcast
