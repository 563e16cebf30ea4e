#include "adapters/wled/wled_system.h"

#include "core/text/log_text.h"
#include "core/text/url_text.h"

#include <QTimer>

#include <algorithm>
#include <utility>

namespace glowcast {

namespace {

constexpr std::string_view kScheme = "http://";

// "http://HOST[:PORT]" from itself or a bare "HOST[:PORT]"; empty for anything else.
std::string baseOf(std::string_view address)
{
    if (address.starts_with(kScheme))
        address.remove_prefix(kScheme.size());
    return isUrlHost(address) ? std::string{kScheme} + std::string{address} : std::string{};
}

} // namespace

WledSystem::WledSystem(SystemRecord record, Log& log, Options options)
    : m_record(std::move(record)), m_log(log), m_options(options), m_base(baseOf(m_record.address)),
      m_http({m_base, "lamp system " + m_record.id + ": ", std::nullopt, m_options.requestTimeout}, log)
{
}

WledSystem::~WledSystem()
{
    stop();
}

void WledSystem::log(const std::string& text)
{
    m_log.write(logLine("lamp system " + m_record.id + ": " + text));
}

void WledSystem::start()
{
    if (m_base.empty()) {
        log("'" + printable(m_record.address) + "' is not a WLED address http://HOST[:PORT]");
        m_later.post([this] { tellState(SystemState::Refused, "not a WLED address"); });
        return;
    }
    get("/json/info", [this](std::optional<Reply> reply) {
        if (!reply) {
            tellState(SystemState::Unreachable, "no answer from " + m_base);
            return;
        }
        const std::optional<WledInfo> info = reply->status == 200 ? readWledInfo(reply->body) : std::nullopt;
        if (!info) {
            log(m_base + "/json/info answered " + std::to_string(reply->status) +
                " with no WLED information: " + reply->body.substr(0, 200));
            tellState(SystemState::Unreachable, "no WLED information from " + m_base);
            return;
        }
        if (LampSystemListener* told = listener(); told != nullptr && !info->mac.empty())
            told->identified(info->mac);
        readSegments(*info);
    });
}

void WledSystem::readSegments(const WledInfo& info)
{
    get("/json/state", [this, info](std::optional<Reply> reply) {
        if (!reply) {
            tellState(SystemState::Unreachable, "no answer from " + m_base);
            return;
        }
        std::optional<std::vector<WledSegment>> segments =
            reply->status == 200 ? readWledSegments(reply->body, m_log, m_record.id) : std::nullopt;
        if (!segments) {
            log(m_base + "/json/state answered " + std::to_string(reply->status) +
                " with no segment list: " + reply->body.substr(0, 200));
            tellState(SystemState::Unreachable, "no segment list from " + m_base);
            return;
        }
        if (segments->empty())
            log(m_base + " has no segments");
        m_lamps.clear();
        std::vector<SystemLamp> lamps;
        for (std::size_t index = 0; index < segments->size(); ++index) {
            m_lamps.push_back(wledLampOf((*segments)[index], index, info));
            lamps.push_back(m_lamps.back().lamp);
        }
        if (LampSystemListener* told = listener())
            told->lampsRead(std::move(lamps));
    });
}

void WledSystem::refresh()
{
    start();
}

const WledLamp* WledSystem::lampWithKey(const std::string& key) const
{
    const auto found = std::ranges::find_if(m_lamps, [&](const WledLamp& lamp) { return lamp.lamp.key == key; });
    return found == m_lamps.end() ? nullptr : &*found;
}

void WledSystem::send(std::vector<LampStateCommand> commands, std::function<void(SendResult)> done)
{
    std::vector<WledCommand> segments;
    for (LampStateCommand& command : commands)
        if (const WledLamp* lamp = lampWithKey(command.key))
            segments.push_back({*lamp, std::move(command.state)});
    if (segments.empty()) {
        m_later.post([done = std::move(done), refused = !commands.empty()] {
            done(refused ? SendResult::Refused : SendResult::Delivered);
        });
        return;
    }
    post(wledCoverBody(segments, m_options.soundReactive && m_options.soundReactive()), std::move(done));
}

void WledSystem::readState(const std::string& key, std::function<void(std::optional<ReadLampState>)> done)
{
    get("/json/state", [this, key, done = std::move(done)](std::optional<Reply> reply) {
        if (!reply || reply->status != 200) {
            done(std::nullopt);
            return;
        }
        // What the segment list holds was logged when the lamps were read; a read for a restore says it again.
        NullLog quiet;
        const std::optional<std::vector<WledSegment>> segments = readWledSegments(reply->body, quiet, m_record.id);
        const auto segment =
            segments ? std::ranges::find_if(*segments,
                                            [&](const WledSegment& each) { return std::to_string(each.id) == key; })
                     : std::vector<WledSegment>::const_iterator{};
        if (!segments || segment == segments->end()) {
            log("segment " + key + " was not in the state of " + m_base);
            done(std::nullopt);
            return;
        }
        m_saved[key] = *segment;
        ReadLampState read;
        read.on = segment->on;
        read.shown.brightness = std::clamp(segment->brightness, 1, 254);
        done(read);
    });
}

void WledSystem::restore(const std::string& key, const ReadLampState& state, std::function<void(SendResult)> done)
{
    const auto saved = m_saved.find(key);
    if (saved == m_saved.end()) {
        // Nothing was read for it here: on or off, and the brightness, are what there is to put back.
        const WledLamp* lamp = lampWithKey(key);
        if (lamp == nullptr) {
            m_later.post([done = std::move(done)] { done(SendResult::Refused); });
            return;
        }
        WledSegment segment;
        segment.id = lamp->id;
        segment.on = state.on;
        segment.brightness = state.shown.brightness.value_or(255);
        post(wledRestoreBody(segment), std::move(done), key);
        return;
    }
    post(wledRestoreBody(saved->second), std::move(done), key);
}

void WledSystem::stop()
{
    m_later.dropWaiting();
    m_http.stop();
}

void WledSystem::get(const std::string& path, Handler handler)
{
    request(path, std::nullopt, std::move(handler));
}

void WledSystem::post(std::string body, std::function<void(SendResult)> done, const std::string& restoring)
{
    request("/json/state", std::move(body), [this, restoring, done = std::move(done)](std::optional<Reply> reply) {
        if (!reply) {
            // A cover's send is timed by the sender, which marks the system; a restore is told here.
            if (!restoring.empty()) {
                log("segment " + restoring + " not put back: no answer from " + m_base);
                tellState(SystemState::Unreachable, "no answer from " + m_base);
            }
            done(SendResult::NoAnswer);
            return;
        }
        if (reply->status != 200) {
            log(m_base + " refused a state: " + std::to_string(reply->status) + " " + reply->body.substr(0, 200));
            done(SendResult::Refused);
            return;
        }
        done(SendResult::Delivered);
    });
}

void WledSystem::request(const std::string& path, std::optional<std::string> body, Handler handler)
{
    if (m_base.empty()) {
        m_later.post([handler = std::move(handler)] { handler(std::nullopt); });
        return;
    }
    JsonHttpCall call;
    call.method = body ? HttpMethod::Post : HttpMethod::Get;
    call.path = path;
    call.body = std::move(body).value_or(std::string{});
    call.maxReplyBytes = m_options.maxReplyBytes;
    // The client logs what kept an answer away.
    m_http.call(call, [handler = std::move(handler)](HttpOutcome result) { handler(std::move(result.reply)); });
}

} // namespace glowcast
