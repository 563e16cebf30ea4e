#pragma once

#include <complex>
#include <cstddef>
#include <span>
#include <vector>

struct kiss_fftr_state;

namespace glowcast {

// The amplitudes of a stretch of sound of a fixed, even length, seen through a Hann window: size / 2 + 1
// bins from 0 Hz to half the sample rate, scaled so that a full-scale tone's bin reads 1.
class WindowedSpectrum {
public:
    explicit WindowedSpectrum(std::size_t size);
    WindowedSpectrum(const WindowedSpectrum&) = delete;
    WindowedSpectrum& operator=(const WindowedSpectrum&) = delete;
    ~WindowedSpectrum();

    [[nodiscard]] std::size_t size() const { return m_window.size(); }
    // Of the last size() samples of `sound`, which holds at least that many.
    [[nodiscard]] const std::vector<float>& amplitudes(std::span<const float> sound);

private:
    kiss_fftr_state* m_config;
    std::vector<float> m_window;
    float m_scale = 0;
    std::vector<float> m_windowed;
    std::vector<std::complex<float>> m_bins;
    std::vector<float> m_amplitudes;
};

} // namespace glowcast
