#pragma once

namespace glowcast {

// Maps the loudness of what plays to 0..255 whatever the volume: a gain that falls quickly when the
// music gets louder and rises slowly when it gets quieter, up to a limit, so that quiet passages stay
// quiet and a hiss is never lifted into music.
class GainControl {
public:
    // Blocks whose RMS is below this (-60 dBFS) are silence.
    static constexpr float kNoiseFloor = 0.001F;

    struct Levels {
        float level = 0;
        float smoothLevel = 0;
    };
    // rms: the block's RMS, 1 for a full-scale square wave; seconds: the block's length.
    [[nodiscard]] Levels levels(float rms, float seconds);
    // What an amplitude is multiplied by to be on the level's scale.
    [[nodiscard]] float gain() const;

private:
    float m_envelope = 0;
    float m_smooth = 0;
};

} // namespace glowcast
