#pragma once

#include "adapters/http/json_http_client.h"
#include "adapters/qt/later_calls.h"
#include "adapters/wled/wled_json.h"
#include "core/lamp_systems/lamp_system.h"
#include "core/ports/log.h"

#include <QObject>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace glowcast {

// A WLED device as a lamp system, over its JSON interface on Qt Network: each segment of its state is a
// lamp. start() reads GET /json/info (what each segment's LEDs can show), then GET /json/state. A cover
// is one POST /json/state carrying every segment; a read takes the segment as GET /json/state gives it
// and keeps it whole, so that its restore puts back its colours, effect, palette, speed, intensity, on
// and brightness. Nothing here waits: answers come from the event loop, never inside the call. Replies
// over the cap and redirects are no answer, answers that are no JSON no lamps, each with a log line.
class WledSystem final : public LampSystem {
public:
    struct Options {
        std::chrono::milliseconds requestTimeout{3000};
        std::size_t maxReplyBytes = std::size_t{1} << 20; // a device's state is a few KiB
        // Whether the beat is on: cover bodies then leave the effect to the device (wledCoverBody).
        std::function<bool()> soundReactive;
    };

    WledSystem(SystemRecord record, Log& log, Options options);
    ~WledSystem() override;
    WledSystem(const WledSystem&) = delete;
    WledSystem& operator=(const WledSystem&) = delete;

    void start() override;
    void refresh() override;
    void send(std::vector<LampStateCommand> commands, std::function<void(SendResult)> done) override;
    void readState(const std::string& key, std::function<void(std::optional<ReadLampState>)> done) override;
    void restore(const std::string& key, const ReadLampState& state, std::function<void(SendResult)> done) override;
    void stop() override;
    [[nodiscard]] std::size_t batchLimit() const override { return std::max<std::size_t>(1, m_lamps.size()); }

private:
    using Reply = HttpReply;
    using Handler = std::function<void(std::optional<Reply>)>;

    void get(const std::string& path, Handler handler);
    // restoring: the key of the segment a restore puts back, empty for a cover.
    void post(std::string body, std::function<void(SendResult)> done, const std::string& restoring = {});
    void request(const std::string& path, std::optional<std::string> body, Handler handler);
    void readSegments(const WledInfo& info);
    void log(const std::string& text);
    [[nodiscard]] const WledLamp* lampWithKey(const std::string& key) const;

    SystemRecord m_record;
    Log& m_log;
    Options m_options;
    std::string m_base; // "http://host[:port]"; empty for an address that is none
    std::vector<WledLamp> m_lamps;
    std::map<std::string, WledSegment> m_saved; // each segment as read before its first colour, by key
    JsonHttpClient m_http;
    QObject m_context;
    LaterCalls m_later{m_context}; // answers told from the event loop; a stop drops those still waiting
};

} // namespace glowcast
