#include "core/beat/gain_control.h"

#include <algorithm>
#include <cmath>

namespace glowcast {

namespace {

// The music's usual loudness lands here, leaving room above for its peaks.
constexpr float kTarget = 160;
// The quietest envelope the gain is raised for: 30 dB over the noise floor.
constexpr float kQuietestEnvelope = 0.03F;
constexpr float kAttackSeconds = 0.2F;
constexpr float kReleaseSeconds = 5;
constexpr float kSmoothSeconds = 0.15F;

// The share of the way to a new value that a block of `seconds` covers, for a time constant `tau`.
float step(float seconds, float tau)
{
    return 1 - std::exp(-seconds / tau);
}

} // namespace

GainControl::Levels GainControl::levels(float rms, float seconds)
{
    if (rms < kNoiseFloor) {
        // Silence leaves the envelope as it was, so that music after a pause starts at its old gain.
        m_smooth -= m_smooth * step(seconds, kSmoothSeconds);
        return {0, m_smooth};
    }
    if (m_envelope == 0)
        m_envelope = rms;
    m_envelope += (rms - m_envelope) * step(seconds, rms > m_envelope ? kAttackSeconds : kReleaseSeconds);
    const float level = std::min(rms * gain(), 255.0F);
    m_smooth += (level - m_smooth) * step(seconds, kSmoothSeconds);
    return {level, m_smooth};
}

float GainControl::gain() const
{
    return kTarget / std::max(m_envelope, kQuietestEnvelope);
}

} // namespace glowcast
