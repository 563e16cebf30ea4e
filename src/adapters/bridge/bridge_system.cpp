#include "adapters/bridge/bridge_system.h"

#include "adapters/http/http_recipe.h"
#include "core/bridge/bridge_bridge.h"
#include "core/bridge/bridge_wire.h"
#include "core/json/json_codec.h"
#include "core/text/log_text.h"
#include "core/text/url_text.h"

#include <QNetworkReply>
#include <QUrl>

#include <utility>

namespace glowcast {
namespace {

constexpr int kUnauthorisedUser = 1;
constexpr int kLinkButtonNotPressed = 101;

} // namespace

BridgeSystem::BridgeSystem(SystemRecord record, Log& log) : BridgeSystem(std::move(record), log, Options{})
{
}

BridgeSystem::BridgeSystem(SystemRecord record, Log& log, Options options)
    : m_record(std::move(record)), m_log(log), m_options(options), m_user(m_record.user)
{
    setUpHttpManager(m_manager);
    m_pairingTimer.setSingleShot(true);
    QObject::connect(&m_pairingTimer, &QTimer::timeout, &m_context, [this] { pairOnce(); });
}

BridgeSystem::~BridgeSystem()
{
    stop();
}

std::string BridgeSystem::where() const
{
    return "the bridge at " + m_record.address;
}

void BridgeSystem::start()
{
    if (!isUrlHost(m_record.address)) {
        m_log.write(logLine("lamp system " + m_record.id + ": '" + m_record.address + "' is not a bridge address"));
        m_later.post([this] { tellState(SystemState::Refused, "not a bridge address"); });
        return;
    }
    if (m_user && !isUrlSegment(*m_user)) {
        m_log.write(logLine("lamp system " + m_record.id + ": its user name cannot stand in a URL; pairing again"));
        m_user.reset();
    }
    request(HttpMethod::Get, "/api/config", {}, [this](std::optional<HttpReply> reply) {
        if (!reply) {
            tellState(SystemState::Unreachable, "no answer from " + where());
            return;
        }
        std::optional<std::string> id = bridgeIdFrom(reply->body);
        const std::optional<std::string> first = m_options.firstBridge ? m_options.firstBridge() : std::nullopt;
        if (!id || !first || !isUrlHost(*first)) {
            readOrPair(id);
            return;
        }
        // The first bridge under this address or another name is not paired a second time: its id tells.
        request(
            HttpMethod::Get, "/api/config", {},
            [this, id = std::move(id)](std::optional<HttpReply> firstReply) {
                if (firstReply && bridgeIdFrom(firstReply->body) == id) {
                    m_log.write(
                        logLine("lamp system " + m_record.id + " is the same bridge as the first bridge, not used"));
                    tellState(SystemState::Refused, "the same bridge as the first bridge");
                    return;
                }
                readOrPair(id);
            },
            *first);
    });
}

void BridgeSystem::readOrPair(const std::optional<std::string>& id)
{
    if (id && listener() != nullptr)
        listener()->identified(*id);
    if (m_user) {
        readLights();
        return;
    }
    m_pairing = true;
    m_pairingEnds = std::chrono::steady_clock::now() + m_options.pairingLimit;
    m_log.write(logLine("lamp system " + m_record.id + ": pairing; press the link button on " + where()));
    tellState(SystemState::Pairing, "press the link button on " + where());
    pairOnce();
}

void BridgeSystem::refresh()
{
    if (!m_pairing)
        start();
}

void BridgeSystem::pairOnce()
{
    const std::string body = JSONFromDictionary(Dictionary{{"devicetype", std::string{kBridgeDeviceType}}});
    request(HttpMethod::Post, "/api", body, [this](std::optional<HttpReply> reply) {
        if (!reply) {
            m_pairing = false;
            tellState(SystemState::Unreachable, "no answer from " + where());
            return;
        }
        if (std::optional<std::string> user = pairedUserFrom(reply->body)) {
            m_pairing = false;
            m_user = user;
            m_log.write(logLine("lamp system " + m_record.id + ": paired with " + where()));
            if (listener() != nullptr)
                listener()->userObtained(std::move(*user));
            readLights();
            return;
        }
        if (bridgeErrorType(reply->body) != kLinkButtonNotPressed)
            m_log.write(logLine("lamp system " + m_record.id + ": pairing: " + where() + " answered " +
                                std::to_string(reply->status) + " " + reply->body.substr(0, 200)));
        if (std::chrono::steady_clock::now() + m_options.pairingPause > m_pairingEnds) {
            m_pairing = false;
            m_log.write(logLine("lamp system " + m_record.id + ": the link button on " + where() +
                                " was not pressed; not paired"));
            tellState(SystemState::Refused, "the link button was not pressed");
            return;
        }
        m_pairingTimer.start(m_options.pairingPause);
    });
}

void BridgeSystem::readLights()
{
    request(HttpMethod::Get, "/api/" + *m_user + "/lights", {}, [this](std::optional<HttpReply> reply) {
        if (!reply) {
            tellState(SystemState::Unreachable, "no answer from " + where());
            return;
        }
        if (bridgeErrorType(reply->body) == kUnauthorisedUser) {
            (void)resultOf(reply);
            return;
        }
        std::optional<std::vector<SystemLamp>> lamps = bridgeLampsFrom(reply->body, m_record.id, m_log);
        if (!lamps) {
            m_log.write(logLine("lamp system " + m_record.id + ": no lamp list from " + where() + ": " +
                                std::to_string(reply->status) + " " + reply->body.substr(0, 200)));
            tellState(SystemState::Unreachable, "no lamp list from " + where());
            return;
        }
        if (listener() != nullptr)
            listener()->lampsRead(std::move(*lamps));
    });
}

SendResult BridgeSystem::resultOf(const std::optional<HttpReply>& reply)
{
    if (!reply)
        return SendResult::NoAnswer;
    const std::optional<int> error = bridgeErrorType(reply->body);
    if (error == kUnauthorisedUser) {
        m_log.write(logLine("lamp system " + m_record.id + ": " + where() + " does not know its user name"));
        tellState(SystemState::Refused, "the bridge does not know the user name; remove and add it to pair again");
    }
    return error || reply->status >= 300 ? SendResult::Refused : SendResult::Delivered;
}

void BridgeSystem::send(std::vector<LampStateCommand> commands, std::function<void(SendResult)> done)
{
    if (commands.empty()) {
        m_later.post([done = std::move(done)] { done(SendResult::Delivered); });
        return;
    }
    sendFrom(std::move(commands), 0, SendResult::Delivered, std::move(done));
}

// One lamp after the other, as a bridge takes them best; the first that gets no answer ends the send.
void BridgeSystem::sendFrom(std::vector<LampStateCommand> commands, std::size_t next, SendResult worst,
                            std::function<void(SendResult)> done)
{
    const LampStateCommand& command = commands[next];
    putState(command.key, bridgeStateBody(command.state),
             [this, commands = std::move(commands), next, worst, done = std::move(done)](SendResult result) mutable {
                 if (result == SendResult::Refused)
                     worst = SendResult::Refused;
                 if (result == SendResult::NoAnswer || next + 1 == commands.size()) {
                     done(result == SendResult::NoAnswer ? result : worst);
                     return;
                 }
                 sendFrom(std::move(commands), next + 1, worst, std::move(done));
             });
}

void BridgeSystem::putState(const std::string& key, const std::string& body, std::function<void(SendResult)> done)
{
    if (!m_user || !isUrlSegment(key)) {
        m_later.post([done = std::move(done)] { done(SendResult::Refused); });
        return;
    }
    request(HttpMethod::Put, "/api/" + *m_user + "/lights/" + key + "/state", body,
            [this, done = std::move(done)](std::optional<HttpReply> reply) { done(resultOf(reply)); });
}

void BridgeSystem::readState(const std::string& key, std::function<void(std::optional<ReadLampState>)> done)
{
    if (!m_user || !isUrlSegment(key)) {
        m_later.post([done = std::move(done)] { done(std::nullopt); });
        return;
    }
    request(HttpMethod::Get, "/api/" + *m_user + "/lights/" + key, {},
            [done = std::move(done)](std::optional<HttpReply> reply) {
                done(reply ? bridgeLampStateFrom(reply->body) : std::nullopt);
            });
}

void BridgeSystem::restore(const std::string& key, const ReadLampState& state, std::function<void(SendResult)> done)
{
    putState(key, bridgeRestoreBody(state), std::move(done));
}

void BridgeSystem::stop()
{
    m_later.dropWaiting();
    m_pairing = false;
    m_pairingTimer.stop();
    // Disconnected first: an aborted reply tells it finished at once, and nothing is told after a stop.
    for (QNetworkReply* reply : std::exchange(m_replies, {})) {
        QObject::disconnect(reply, nullptr, &m_context, nullptr);
        reply->abort();
        reply->deleteLater();
    }
}

void BridgeSystem::request(HttpMethod method, const std::string& path, std::string body, Handler handler,
                           const std::string& host)
{
    // The address and every segment were checked when they were taken: the URL goes out as built.
    const QUrl url(QString::fromStdString("http://" + (host.empty() ? m_record.address : host) + path));
    QNetworkReply* reply = sendHttp(m_manager, method, httpRequestTo(url), QByteArray::fromStdString(body),
                                    QStringLiteral("application/json"));
    m_replies.insert(reply);
    const HttpBounds bounds{m_options.maxReplyBytes, m_options.requestTimeout};
    boundReply(*reply, bounds);
    // The user name stands in the path: a line names the bridge alone.
    const std::string at = host.empty() ? where() : "the bridge at " + host;
    QObject::connect(reply, &QNetworkReply::finished, &m_context,
                     [this, reply, bounds, at, handler = std::move(handler)] {
                         m_replies.erase(reply);
                         reply->deleteLater();
                         HttpOutcome outcome = outcomeOf(*reply, bounds);
                         if (!outcome.reply)
                             m_log.write(logLine("lamp system " + m_record.id + ": " + at + ": " + outcome.failure));
                         // Told last: the listener may end this system from inside.
                         handler(std::move(outcome.reply));
                     });
}

} // namespace glowcast
