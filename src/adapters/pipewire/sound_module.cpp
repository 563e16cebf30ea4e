// The module glowcast-sound.so: watches the PipeWire graph for sound playing on the default output,
// captures that output's monitor only meanwhile, and analyses it, all on a PipeWire thread loop of its own.

#include "adapters/pipewire/sound_module.h"
#include "adapters/pipewire/sound_blocks.h"
#include "core/beat/sound_analyser.h"

#include <pipewire/extensions/metadata.h>
#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <spa/utils/json.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace glowcast {
namespace {

constexpr std::uint32_t kNone = SPA_ID_INVALID;
constexpr int kCaptureRate = 48'000;
constexpr std::chrono::seconds kRetryAfter{2};

std::string_view text(const spa_dict* props, const char* key)
{
    const char* value = props != nullptr ? spa_dict_lookup(props, key) : nullptr;
    return value != nullptr ? std::string_view(value) : std::string_view();
}

std::uint32_t idIn(const spa_dict* props, const char* key)
{
    const std::string_view value = text(props, key);
    std::uint32_t id = kNone;
    if (std::from_chars(value.data(), value.data() + value.size(), id).ec != std::errc())
        return kNone;
    return id;
}

// The node name in the default sink's metadata value, {"name":"..."}; empty when it holds none.
std::string nodeNameIn(const char* value)
{
    if (value == nullptr)
        return {};
    spa_json outer{};
    spa_json object{};
    spa_json_init(&outer, value, std::strlen(value));
    if (spa_json_enter_object(&outer, &object) <= 0)
        return {};
    char key[64];
    while (spa_json_get_string(&object, key, sizeof key) > 0) {
        char name[512];
        if (std::strcmp(key, "name") == 0)
            return spa_json_get_string(&object, name, sizeof name) > 0 ? std::string(name) : std::string();
        const char* skipped = nullptr;
        if (spa_json_next(&object, &skipped) <= 0)
            return {};
    }
    return {};
}

// A stream that plays into some sink, and whether it runs.
struct OutputStream {
    pw_proxy* proxy = nullptr;
    spa_hook listener{};
    bool running = false;
};

struct Link {
    std::uint32_t from = kNone;
    std::uint32_t to = kNone;
};

} // namespace

// One listening: the connection to the server, what it tells of the graph, and the capture while
// something plays. Everything but open() and close() runs on the loop's thread.
class Session {
public:
    explicit Session(const GlowcastSoundListener& listener) : m_listener(listener) {}
    ~Session() { close(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool open()
    {
        m_loop = pw_thread_loop_new("glowcast-sound", nullptr);
        if (m_loop == nullptr)
            return false;
        m_context = pw_context_new(pw_thread_loop_get_loop(m_loop), nullptr, 0);
        if (m_context == nullptr)
            return false;
        m_retry = pw_loop_add_timer(pw_thread_loop_get_loop(m_loop), &Session::onRetry, this);
        if (m_retry == nullptr || pw_thread_loop_start(m_loop) < 0)
            return false;
        // The first connection is made on the loop's thread too: the caller never waits for the server.
        pw_thread_loop_lock(m_loop);
        retryIn(std::chrono::nanoseconds(1));
        pw_thread_loop_unlock(m_loop);
        return true;
    }

    void close()
    {
        if (m_loop != nullptr) {
            // Let go of the server while the loop still runs, then end its thread.
            pw_thread_loop_lock(m_loop);
            m_closing = true;
            disconnect();
            if (m_retry != nullptr)
                pw_loop_destroy_source(pw_thread_loop_get_loop(m_loop), m_retry);
            m_retry = nullptr;
            pw_thread_loop_unlock(m_loop);
            pw_thread_loop_stop(m_loop);
        }
        if (m_context != nullptr)
            pw_context_destroy(m_context);
        m_context = nullptr;
        if (m_loop != nullptr)
            pw_thread_loop_destroy(m_loop);
        m_loop = nullptr;
    }

private:
    // --- the connection --------------------------------------------------------------------------

    void retryIn(std::chrono::nanoseconds after)
    {
        timespec value{static_cast<time_t>(after.count() / 1'000'000'000),
                       static_cast<long>(after.count() % 1'000'000'000)};
        pw_loop_update_timer(pw_thread_loop_get_loop(m_loop), m_retry, &value, nullptr, false);
    }

    static void onRetry(void* data, std::uint64_t /*expirations*/)
    {
        auto* self = static_cast<Session*>(data);
        if (self->m_closing)
            return;
        if (self->m_broken)
            self->disconnect();
        if (self->m_core == nullptr)
            self->connect();
    }

    void connect()
    {
        m_core = pw_context_connect(m_context, nullptr, 0);
        if (m_core == nullptr) {
            unavailable("sound: no sound server to listen to (" + std::string(std::strerror(errno)) +
                        "); trying again every 2 s");
            retryIn(kRetryAfter);
            return;
        }
        static const pw_core_events coreEvents = [] {
            pw_core_events events{};
            events.version = PW_VERSION_CORE_EVENTS;
            events.done = &Session::onDone;
            events.error = &Session::onError;
            return events;
        }();
        pw_core_add_listener(m_core, &m_coreListener, &coreEvents, this);
        m_registry = pw_core_get_registry(m_core, PW_VERSION_REGISTRY, 0);
        static const pw_registry_events registryEvents = {
            .version = PW_VERSION_REGISTRY_EVENTS,
            .global = &Session::onGlobal,
            .global_remove = &Session::onGlobalRemove,
        };
        pw_registry_add_listener(m_registry, &m_registryListener, &registryEvents, this);
        m_synced = false;
        sync();
    }

    void disconnect()
    {
        dropCapture();
        for (auto& [id, stream] : m_streams)
            forget(*stream);
        m_streams.clear();
        m_links.clear();
        m_sinks.clear();
        if (m_metadata != nullptr) {
            spa_hook_remove(&m_metadataListener);
            pw_proxy_destroy(reinterpret_cast<pw_proxy*>(m_metadata));
        }
        m_metadata = nullptr;
        m_metadataId = kNone;
        m_defaultSink.clear();
        if (m_registry != nullptr) {
            spa_hook_remove(&m_registryListener);
            pw_proxy_destroy(reinterpret_cast<pw_proxy*>(m_registry));
        }
        m_registry = nullptr;
        if (m_core != nullptr) {
            spa_hook_remove(&m_coreListener);
            pw_core_disconnect(m_core);
        }
        m_core = nullptr;
        m_broken = false;
        m_synced = false;
    }

    // Asks the server to answer once it has told everything asked so far: the graph as it stands.
    void sync() { m_syncSeq = pw_core_sync(m_core, PW_ID_CORE, m_syncSeq); }

    static void onDone(void* data, std::uint32_t id, int seq)
    {
        auto* self = static_cast<Session*>(data);
        if (id == PW_ID_CORE && seq == self->m_syncSeq && !self->m_synced) {
            self->m_synced = true;
            self->decide();
        }
    }

    static void onError(void* data, std::uint32_t id, int /*seq*/, int res, const char* message)
    {
        auto* self = static_cast<Session*>(data);
        if (id == PW_ID_CORE && res == -EPIPE) {
            // The server went away. The core is let go of from the loop, never inside its own event.
            self->m_broken = true;
            self->unavailable(std::string("sound: the sound server went away (") + (message != nullptr ? message : "") +
                              "); trying again every 2 s");
            self->retryIn(std::chrono::milliseconds(10));
        }
    }

    // --- the graph -------------------------------------------------------------------------------

    static void onGlobal(void* data, std::uint32_t id, std::uint32_t /*permissions*/, const char* type,
                         std::uint32_t /*version*/, const spa_dict* props)
    {
        auto* self = static_cast<Session*>(data);
        const std::string_view kind = type != nullptr ? type : "";
        if (kind == PW_TYPE_INTERFACE_Node) {
            const std::string_view mediaClass = text(props, PW_KEY_MEDIA_CLASS);
            if (mediaClass == "Audio/Sink")
                self->m_sinks[id] = std::string(text(props, PW_KEY_NODE_NAME));
            else if (mediaClass == "Stream/Output/Audio")
                self->watchStream(id);
        } else if (kind == PW_TYPE_INTERFACE_Link) {
            self->m_links[id] = {idIn(props, PW_KEY_LINK_OUTPUT_NODE), idIn(props, PW_KEY_LINK_INPUT_NODE)};
        } else if (kind == PW_TYPE_INTERFACE_Metadata && text(props, PW_KEY_METADATA_NAME) == "default" &&
                   self->m_metadata == nullptr) {
            self->watchDefaults(id);
        } else {
            return;
        }
        self->decide();
    }

    static void onGlobalRemove(void* data, std::uint32_t id)
    {
        auto* self = static_cast<Session*>(data);
        self->m_sinks.erase(id);
        self->m_links.erase(id);
        if (const auto stream = self->m_streams.find(id); stream != self->m_streams.end()) {
            forget(*stream->second);
            self->m_streams.erase(stream);
        }
        if (id == self->m_metadataId) {
            spa_hook_remove(&self->m_metadataListener);
            pw_proxy_destroy(reinterpret_cast<pw_proxy*>(self->m_metadata));
            self->m_metadata = nullptr;
            self->m_metadataId = kNone;
            self->m_defaultSink.clear();
        }
        self->decide();
    }

    void watchStream(std::uint32_t id)
    {
        auto stream = std::make_unique<OutputStream>();
        stream->proxy =
            static_cast<pw_proxy*>(pw_registry_bind(m_registry, id, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, 0));
        if (stream->proxy == nullptr)
            return;
        static const pw_node_events nodeEvents = [] {
            pw_node_events events{};
            events.version = PW_VERSION_NODE_EVENTS;
            events.info = &Session::onStreamInfo;
            return events;
        }();
        pw_proxy_add_object_listener(stream->proxy, &stream->listener, &nodeEvents, this);
        m_streams[id] = std::move(stream);
    }

    static void forget(OutputStream& stream)
    {
        spa_hook_remove(&stream.listener);
        pw_proxy_destroy(stream.proxy);
    }

    static void onStreamInfo(void* data, const pw_node_info* info)
    {
        auto* self = static_cast<Session*>(data);
        if (info == nullptr || (info->change_mask & PW_NODE_CHANGE_MASK_STATE) == 0)
            return;
        if (const auto stream = self->m_streams.find(info->id); stream != self->m_streams.end()) {
            stream->second->running = info->state == PW_NODE_STATE_RUNNING;
            self->decide();
        }
    }

    void watchDefaults(std::uint32_t id)
    {
        m_metadata = static_cast<pw_metadata*>(
            pw_registry_bind(m_registry, id, PW_TYPE_INTERFACE_Metadata, PW_VERSION_METADATA, 0));
        if (m_metadata == nullptr)
            return;
        m_metadataId = id;
        static const pw_metadata_events metadataEvents = {
            .version = PW_VERSION_METADATA_EVENTS,
            .property = &Session::onProperty,
        };
        pw_metadata_add_listener(m_metadata, &m_metadataListener, &metadataEvents, this);
        if (!m_synced)
            sync(); // the graph counts as known once the defaults have been told too
    }

    static int onProperty(void* data, std::uint32_t subject, const char* key, const char* /*type*/, const char* value)
    {
        auto* self = static_cast<Session*>(data);
        if (subject != PW_ID_CORE)
            return 0;
        if (key == nullptr)
            self->m_defaultSink.clear(); // every property was removed
        else if (std::strcmp(key, "default.audio.sink") == 0)
            self->m_defaultSink = nodeNameIn(value);
        else
            return 0;
        self->decide();
        return 0;
    }

    [[nodiscard]] std::uint32_t defaultSinkId() const
    {
        if (m_defaultSink.empty())
            return kNone;
        for (const auto& [id, name] : m_sinks)
            if (name == m_defaultSink)
                return id;
        return kNone;
    }

    // Whether a stream runs that plays into this sink.
    [[nodiscard]] bool playsInto(std::uint32_t sink) const
    {
        return std::any_of(m_links.begin(), m_links.end(), [&](const auto& link) {
            const auto stream = m_streams.find(link.second.from);
            return link.second.to == sink && stream != m_streams.end() && stream->second->running;
        });
    }

    // Holds the capture while, and only while, something plays on the default output.
    void decide()
    {
        if (m_core == nullptr || m_broken || !m_synced)
            return;
        const std::uint32_t sink = defaultSinkId();
        if (sink == kNone) {
            dropCapture();
            unavailable("sound: no output to listen to: the sound server has no default output");
            return;
        }
        if (!playsInto(sink)) {
            dropCapture();
            tell(SoundCaptureState::Waiting);
            return;
        }
        if (m_capture != nullptr && m_captureTarget != m_defaultSink)
            dropCapture(); // the default output changed while it played
        if (m_capture == nullptr && !holdCapture())
            return;
        tell(SoundCaptureState::Capturing);
    }

    // --- the capture -----------------------------------------------------------------------------

    bool holdCapture()
    {
        // No latency of its own asked for: the graph keeps the quantum the players ask, and the blocks of
        // 20 ms come from whatever it hands over.
        pw_properties* props =
            pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE, "Music",
                              PW_KEY_STREAM_CAPTURE_SINK, "true", PW_KEY_TARGET_OBJECT, m_defaultSink.c_str(),
                              PW_KEY_NODE_DONT_RECONNECT, "true", PW_KEY_NODE_NAME, "glowcast-beat", nullptr);
        m_capture = pw_stream_new(m_core, "Glowcast beat", props);
        if (m_capture == nullptr) {
            unavailable("sound: cannot make a capture stream: " + std::string(std::strerror(errno)));
            return false;
        }
        static const pw_stream_events streamEvents = [] {
            pw_stream_events events{};
            events.version = PW_VERSION_STREAM_EVENTS;
            events.param_changed = &Session::onParamChanged;
            events.process = &Session::onProcess;
            return events;
        }();
        pw_stream_add_listener(m_capture, &m_captureListener, &streamEvents, this);
        // Mono float; the rate left open, so that the graph's own is taken without resampling.
        std::uint8_t buffer[512];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        spa_audio_info_raw wanted{};
        wanted.format = SPA_AUDIO_FORMAT_F32;
        wanted.channels = 1;
        wanted.position[0] = SPA_AUDIO_CHANNEL_MONO;
        const spa_pod* params[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &wanted)};
        const auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS);
        if (pw_stream_connect(m_capture, PW_DIRECTION_INPUT, PW_ID_ANY, flags, params, 1) < 0) {
            dropCapture();
            unavailable("sound: cannot capture the default output " + m_defaultSink);
            return false;
        }
        m_captureTarget = m_defaultSink;
        return true;
    }

    void dropCapture()
    {
        if (m_capture != nullptr) {
            spa_hook_remove(&m_captureListener);
            pw_stream_destroy(m_capture);
        }
        m_capture = nullptr;
        m_captureTarget.clear();
        m_blocks.reset();
        m_analyser.reset();
    }

    static void onParamChanged(void* data, std::uint32_t id, const spa_pod* param)
    {
        auto* self = static_cast<Session*>(data);
        if (id != SPA_PARAM_Format || param == nullptr)
            return;
        self->m_blocks.reset();
        self->m_analyser.reset();
        std::uint32_t mediaType = 0;
        std::uint32_t mediaSubtype = 0;
        spa_audio_info_raw info{};
        const bool raw = spa_format_parse(param, &mediaType, &mediaSubtype) >= 0 && mediaType == SPA_MEDIA_TYPE_audio &&
                         mediaSubtype == SPA_MEDIA_SUBTYPE_raw && spa_format_audio_raw_parse(param, &info) >= 0;
        const bool usable = raw && info.format == SPA_AUDIO_FORMAT_F32 && info.channels >= 1 &&
                            info.channels <= SPA_AUDIO_MAX_CHANNELS && info.rate >= 8'000 && info.rate <= 768'000;
        if (!usable) {
            if (!self->m_formatRefused)
                self->log("sound: the sound server offers a format the beat cannot read (" +
                          std::to_string(info.channels) + " channels at " + std::to_string(info.rate) +
                          " Hz); nothing is analysed");
            self->m_formatRefused = true;
            return;
        }
        self->m_blocks.emplace(static_cast<int>(info.rate), static_cast<int>(info.channels));
        self->m_analyser.emplace(static_cast<int>(info.rate));
    }

    // Takes every buffer that waits, oldest first: when this thread was kept waiting, several do.
    static void onProcess(void* data)
    {
        auto* self = static_cast<Session*>(data);
        pw_buffer* waiting[16];
        std::size_t count = 0;
        while (count < std::size(waiting) && (waiting[count] = pw_stream_dequeue_buffer(self->m_capture)) != nullptr)
            ++count;
        if (count == 0)
            return;
        // The newest ends when the server says; each before it ends where the next begins.
        SteadyTime ends[std::size(waiting)];
        ends[count - 1] = self->lastHeard();
        for (std::size_t i = count - 1; i > 0; --i)
            ends[i - 1] = ends[i] - self->duration(*waiting[i]);
        for (std::size_t i = 0; i < count; ++i) {
            if (const spa_data* held = self->dataOf(*waiting[i]); held != nullptr)
                self->m_blocks->take(
                    std::span(static_cast<const std::byte*>(held->data), held->maxsize), held->chunk->offset,
                    held->chunk->size, ends[i],
                    [self](std::span<const float> samples, SteadyTime at) { self->heard(samples, at); });
            pw_stream_queue_buffer(self->m_capture, waiting[i]);
        }
    }

    // The buffer's sound, when it holds any the blocks can take.
    [[nodiscard]] const spa_data* dataOf(const pw_buffer& buffer) const
    {
        const spa_buffer* held = buffer.buffer;
        if (!m_blocks || held == nullptr || held->n_datas < 1 || held->datas[0].data == nullptr ||
            held->datas[0].chunk == nullptr)
            return nullptr;
        return &held->datas[0];
    }

    [[nodiscard]] std::chrono::nanoseconds duration(const pw_buffer& buffer) const
    {
        const spa_data* held = dataOf(buffer);
        if (held == nullptr)
            return {};
        const std::uint32_t frames = std::min(held->chunk->size, held->maxsize) /
                                     static_cast<std::uint32_t>(sizeof(float) * m_blocks->channels());
        return std::chrono::nanoseconds(std::int64_t{frames} * 1'000'000'000 / m_blocks->sampleRate());
    }

    void heard(std::span<const float> samples, SteadyTime at)
    {
        const SoundFrame frame = m_analyser->analyse(samples);
        m_listener.heard(m_listener.context,
                         std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count(), &frame);
    }

    // When the last sample of the buffer just taken was heard: the graph's cycle time, less the delay
    // the server tells from the output to us. The steady clock is the monotonic clock PipeWire reads.
    [[nodiscard]] SteadyTime lastHeard() const
    {
        pw_time time{};
        const SteadyTime now = std::chrono::steady_clock::now();
        if (pw_stream_get_time_n(m_capture, &time, sizeof time) < 0 || time.now <= 0 || time.rate.denom == 0)
            return now;
        const std::int64_t ticks = time.delay + static_cast<std::int64_t>(time.buffered);
        const auto delay = std::chrono::nanoseconds(ticks * 1'000'000'000 * time.rate.num / time.rate.denom);
        const SteadyTime cycle{std::chrono::nanoseconds(time.now)};
        // A delay that is not plausible is not believed.
        return delay >= std::chrono::nanoseconds(0) && delay < std::chrono::seconds(1) ? cycle - delay : cycle;
    }

    // --- what is told ----------------------------------------------------------------------------

    void tell(SoundCaptureState state)
    {
        if (state == m_state)
            return;
        m_state = state;
        m_listener.stateChanged(m_listener.context, state);
    }

    // Unavailable, with one log line for each time it becomes so, not one for each attempt.
    void unavailable(const std::string& why)
    {
        if (m_state != SoundCaptureState::Unavailable)
            log(why);
        tell(SoundCaptureState::Unavailable);
    }

    void log(const std::string& line) { m_listener.log(m_listener.context, line.c_str()); }

    GlowcastSoundListener m_listener;
    pw_thread_loop* m_loop = nullptr;
    pw_context* m_context = nullptr;
    spa_source* m_retry = nullptr;
    pw_core* m_core = nullptr;
    spa_hook m_coreListener{};
    bool m_broken = false;
    bool m_synced = false;
    int m_syncSeq = 0;
    pw_registry* m_registry = nullptr;
    spa_hook m_registryListener{};
    pw_metadata* m_metadata = nullptr;
    std::uint32_t m_metadataId = kNone;
    spa_hook m_metadataListener{};
    std::string m_defaultSink;
    std::map<std::uint32_t, std::string> m_sinks;
    std::map<std::uint32_t, std::unique_ptr<OutputStream>> m_streams;
    std::map<std::uint32_t, Link> m_links;
    pw_stream* m_capture = nullptr;
    spa_hook m_captureListener{};
    std::string m_captureTarget;
    std::optional<SoundBlocks> m_blocks;
    std::optional<SoundAnalyser> m_analyser;
    bool m_formatRefused = false;
    SoundCaptureState m_state = SoundCaptureState::Off;
    bool m_closing = false;
};

} // namespace glowcast

struct GlowcastSoundSession {
    explicit GlowcastSoundSession(const GlowcastSoundListener& listener) : session(listener) {}
    glowcast::Session session;
};

extern "C" __attribute__((visibility("default"))) GlowcastSoundSession*
glowcast_sound_start(const GlowcastSoundListener* listener)
{
    pw_init(nullptr, nullptr);
    auto started = std::make_unique<GlowcastSoundSession>(*listener);
    if (!started->session.open())
        return nullptr;
    return started.release();
}

extern "C" __attribute__((visibility("default"))) void glowcast_sound_stop(GlowcastSoundSession* session)
{
    delete session;
    pw_deinit();
}
