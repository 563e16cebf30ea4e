#pragma once

#include "core/beat/sound_frame.h"
#include "core/ports/clock.h"

namespace glowcast {

// Where hearing the desktop's sound stands.
enum class SoundCaptureState {
    Off,         // not asked to listen
    Waiting,     // listening for a stream to play on the default output; no link to its monitor
    Capturing,   // hearing what the default output plays
    Unavailable, // no sound server, or no output to hear
};

// Told what the sound does, on the main thread.
class SoundListener {
public:
    virtual ~SoundListener() = default;
    // One analysed block, stamped with when its last sample was heard.
    virtual void heard(SteadyTime at, const SoundFrame& frame) = 0;
    virtual void soundStateChanged(SoundCaptureState state) = 0;
};

// The sound the desktop plays, heard from its default output's monitor while some stream plays on
// that output, analysed block by block.
class SoundCapture {
public:
    virtual ~SoundCapture() = default;
    // Starts listening; a second start while listening changes nothing.
    virtual void start(SoundListener& listener) = 0;
    // Ends any capture at once and lets go of the sound server.
    virtual void stop() = 0;
};

} // namespace glowcast
