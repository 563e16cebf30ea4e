#pragma once

#include "adapters/pipewire/sound_module.h"
#include "adapters/process/shared_library.h"
#include "core/beat/sound_capture.h"
#include "core/ports/log.h"

#include <memory>

namespace glowcast {

// Hears the desktop's sound through PipeWire. The module glowcast-sound.so, which links libpipewire and
// the analysis, is opened at the first start(), so that a program that never listens maps neither; it
// watches the graph on a thread of its own and holds a capture of the default output's monitor only
// while some stream plays on that output. What it hears reaches the listener on the thread that made
// this object, as queued calls; at most a second of frames waits there, and none is delivered after
// stop() returned. Nothing here waits for the sound server. A missing module or server is told as
// Unavailable after one log line.
class PipeWireSoundCapture final : public SoundCapture {
public:
    explicit PipeWireSoundCapture(Log& log);
    ~PipeWireSoundCapture() override;
    PipeWireSoundCapture(const PipeWireSoundCapture&) = delete;
    PipeWireSoundCapture& operator=(const PipeWireSoundCapture&) = delete;

    void start(SoundListener& listener) override;
    void stop() override;

    struct Relay; // what the module's thread hands its news to

private:
    bool openModule();

    Log& m_log;
    std::unique_ptr<SharedLibrary> m_module;
    GlowcastSoundStart* m_start = nullptr;
    GlowcastSoundStop* m_stop = nullptr;
    std::unique_ptr<Relay> m_relay;
    GlowcastSoundSession* m_session = nullptr;
};

} // namespace glowcast
