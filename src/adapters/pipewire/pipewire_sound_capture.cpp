#include "adapters/pipewire/pipewire_sound_capture.h"

#include <QObject>

#include <atomic>
#include <chrono>
#include <string>

namespace glowcast {

namespace {
// A second of frames at 50 a second: what waits beyond is dropped rather than heard late.
constexpr int kMostWaitingFrames = 50;
} // namespace

// Lives as long as one listening. Its queued calls go with it, so none reaches the listener after stop().
struct PipeWireSoundCapture::Relay {
    QObject receiver;
    SoundListener* listener = nullptr;
    Log* out = nullptr;
    std::atomic<int> waitingFrames = 0;

    static void heard(void* context, std::int64_t steadyNanoseconds, const SoundFrame* frame)
    {
        auto* self = static_cast<Relay*>(context);
        if (self->waitingFrames.fetch_add(1) >= kMostWaitingFrames) {
            --self->waitingFrames;
            return;
        }
        const SteadyTime at{std::chrono::nanoseconds(steadyNanoseconds)};
        QMetaObject::invokeMethod(
            &self->receiver,
            [self, at, copy = *frame] {
                --self->waitingFrames;
                self->listener->heard(at, copy);
            },
            Qt::QueuedConnection);
    }

    static void stateChanged(void* context, SoundCaptureState state)
    {
        auto* self = static_cast<Relay*>(context);
        QMetaObject::invokeMethod(
            &self->receiver, [self, state] { self->listener->soundStateChanged(state); }, Qt::QueuedConnection);
    }

    static void logLine(void* context, const char* line)
    {
        auto* self = static_cast<Relay*>(context);
        QMetaObject::invokeMethod(
            &self->receiver, [self, text = std::string(line)] { self->out->write(text); }, Qt::QueuedConnection);
    }
};

PipeWireSoundCapture::PipeWireSoundCapture(Log& log) : m_log(log)
{
}

PipeWireSoundCapture::~PipeWireSoundCapture()
{
    if (m_session != nullptr)
        m_stop(m_session);
}

bool PipeWireSoundCapture::openModule()
{
    if (m_module != nullptr)
        return true;
    std::unique_ptr<SharedLibrary> module = SharedLibrary::openModule(kSoundModuleFile, m_log);
    if (module == nullptr)
        return false;
    m_start = module->function<GlowcastSoundStart>(kSoundStartFunction);
    m_stop = module->function<GlowcastSoundStop>(kSoundStopFunction);
    if (m_start == nullptr || m_stop == nullptr)
        return false;
    m_module = std::move(module);
    return true;
}

void PipeWireSoundCapture::start(SoundListener& listener)
{
    if (m_relay != nullptr)
        return;
    m_relay = std::make_unique<Relay>();
    m_relay->listener = &listener;
    m_relay->out = &m_log;
    if (openModule()) {
        const GlowcastSoundListener told{m_relay.get(), &Relay::heard, &Relay::stateChanged, &Relay::logLine};
        m_session = m_start(&told);
        if (m_session != nullptr)
            return;
        m_log.write("sound: cannot start listening to the sound server");
    }
    Relay::stateChanged(m_relay.get(), SoundCaptureState::Unavailable);
}

void PipeWireSoundCapture::stop()
{
    if (m_relay == nullptr)
        return;
    if (m_session != nullptr)
        m_stop(m_session);
    m_session = nullptr;
    SoundListener* listener = m_relay->listener;
    m_relay.reset();
    listener->soundStateChanged(SoundCaptureState::Off);
}

} // namespace glowcast
