#pragma once

#include "adapters/qt/later_calls.h"
#include "core/lamp_systems/lamp_system.h"
#include "core/ports/http_transport.h"
#include "core/ports/log.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>

class QNetworkReply;

namespace glowcast {

// A further bridge as a lamp system, over its plain-HTTP JSON interface on Qt Network. Nothing here
// waits: each request's reply arrives as a signal on the main thread, so the first bridge's blocking
// exchanges and the other systems go on meanwhile. start() reads the bridge's id from /api/config
// (and the first bridge's: the same id is refused before any pairing), then its lamps with the
// record's user; without a user it pairs, asking once a second while the link button is not
// pressed, for at most the pairing limit. Replies over the cap are no reply.
class BridgeSystem final : public LampSystem {
public:
    struct Options {
        std::chrono::milliseconds requestTimeout{3000};
        std::chrono::milliseconds pairingPause{1000};
        std::chrono::milliseconds pairingLimit{30'000};
        std::size_t maxReplyBytes = std::size_t{8} << 20;
        // The first bridge's address as it is now, when there is one: a further bridge with its id is refused.
        std::function<std::optional<std::string>()> firstBridge{};
    };

    BridgeSystem(SystemRecord record, Log& log);
    BridgeSystem(SystemRecord record, Log& log, Options options);
    ~BridgeSystem() override;
    BridgeSystem(const BridgeSystem&) = delete;
    BridgeSystem& operator=(const BridgeSystem&) = delete;

    void start() override;
    void refresh() override;
    void send(std::vector<LampStateCommand> commands, std::function<void(SendResult)> done) override;
    void readState(const std::string& key, std::function<void(std::optional<ReadLampState>)> done) override;
    void restore(const std::string& key, const ReadLampState& state, std::function<void(SendResult)> done) override;
    void stop() override;
    // A lamp-state body of the caller's own, put as send() puts each state (glowcastctl's set).
    void putState(const std::string& key, const std::string& body, std::function<void(SendResult)> done);

private:
    using Handler = std::function<void(std::optional<HttpReply>)>;

    // host: another bridge's address than this one's, when not empty.
    void request(HttpMethod method, const std::string& path, std::string body, Handler handler,
                 const std::string& host = {});
    void readOrPair(const std::optional<std::string>& id);
    void readLights();
    void pairOnce();
    void sendFrom(std::vector<LampStateCommand> commands, std::size_t next, SendResult worst,
                  std::function<void(SendResult)> done);
    // What a reply to a change says: delivered, refused (an error, the user unknown) or no answer.
    [[nodiscard]] SendResult resultOf(const std::optional<HttpReply>& reply);
    [[nodiscard]] std::string where() const;

    SystemRecord m_record;
    Log& m_log;
    Options m_options;
    std::optional<std::string> m_user;
    bool m_pairing = false;
    std::chrono::steady_clock::time_point m_pairingEnds;
    QNetworkAccessManager m_manager;
    QObject m_context;
    LaterCalls m_later{m_context}; // answers told from the event loop; a stop drops those still waiting
    QTimer m_pairingTimer;
    std::set<QNetworkReply*> m_replies;
};

} // namespace glowcast
