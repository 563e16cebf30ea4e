#pragma once

// Between PipeWireSoundCapture and the module glowcast-sound.so, which alone links libpipewire and the
// sound analysis, so that a program that never listens maps neither. C names, found with dlsym.

#include "core/beat/sound_capture.h"
#include "core/beat/sound_frame.h"

#include <cstdint>

extern "C" {

// What the module tells, each call on the module's own thread and quick: it must not wait for anything.
struct GlowcastSoundListener {
    void* context;
    // One analysed block; steadyNanoseconds on the steady clock, when its last sample was heard.
    void (*heard)(void* context, std::int64_t steadyNanoseconds, const glowcast::SoundFrame* frame);
    void (*stateChanged)(void* context, glowcast::SoundCaptureState state);
    void (*log)(void* context, const char* line);
};

struct GlowcastSoundSession;

// Starts listening on a thread of the module's own; returns at once, before the sound server is reached.
// The listener is copied; its context must outlive the session. Null when no thread could be made.
using GlowcastSoundStart = GlowcastSoundSession*(const GlowcastSoundListener* listener);
// Ends the session: its thread is gone and the server let go of when this returns, and the listener is
// never called again.
using GlowcastSoundStop = void(GlowcastSoundSession* session);
}

namespace glowcast {
inline constexpr const char* kSoundModuleFile = "glowcast-sound.so";
inline constexpr const char* kSoundStartFunction = "glowcast_sound_start";
inline constexpr const char* kSoundStopFunction = "glowcast_sound_stop";
} // namespace glowcast
