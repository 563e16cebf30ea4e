#include "core/beat/windowed_fft.h"

#include <kiss_fftr.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

namespace glowcast {

static_assert(sizeof(kiss_fft_cpx) == sizeof(std::complex<float>) &&
                  alignof(kiss_fft_cpx) <= alignof(std::complex<float>),
              "the FFT writes its bins where std::complex<float> reads them");

WindowedSpectrum::WindowedSpectrum(std::size_t size)
    : m_config(kiss_fftr_alloc(static_cast<int>(size), 0, nullptr, nullptr)), m_window(size), m_windowed(size),
      m_bins(size / 2 + 1), m_amplitudes(size / 2 + 1)
{
    // Only an odd size or no memory left fails; the sizes used here are powers of two.
    if (!m_config)
        std::abort();
    float sum = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const double phase = std::numbers::pi * static_cast<double>(i) / static_cast<double>(size);
        m_window[i] = static_cast<float>(std::sin(phase) * std::sin(phase));
        sum += m_window[i];
    }
    m_scale = 2 / sum;
}

WindowedSpectrum::~WindowedSpectrum()
{
    kiss_fftr_free(m_config);
}

const std::vector<float>& WindowedSpectrum::amplitudes(std::span<const float> sound)
{
    if (sound.size() < size())
        std::abort();
    std::transform(sound.end() - static_cast<long>(size()), sound.end(), m_window.begin(), m_windowed.begin(),
                   std::multiplies{});
    kiss_fftr(m_config, m_windowed.data(), reinterpret_cast<kiss_fft_cpx*>(m_bins.data()));
    std::ranges::transform(m_bins, m_amplitudes.begin(),
                           [this](std::complex<float> bin) { return std::abs(bin) * m_scale; });
    return m_amplitudes;
}

} // namespace glowcast
