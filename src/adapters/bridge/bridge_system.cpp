#include "adapters/bridge/bridge_system.h"

#include "core/json_codec.h"
#include "core/lamp_systems/bridge_wire.h"
#include "core/log_text.h"
#include "core/url_text.h"

#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <memory>
#include <utility>

namespace glowcast {
namespace {

// The name Glowcast pairs under, as with the first bridge.
constexpr std::string_view kDeviceType = "com.tallowbrook.Glowcast";
constexpr int kUnauthorisedUser = 1;
constexpr int kLinkButtonNotPressed = 101;

} // namespace

BridgeSystem::BridgeSystem(SystemRecord record, Log& log) : BridgeSystem(std::move(record), log, Options{})
{
}

BridgeSystem::BridgeSystem(SystemRecord record, Log& log, Options options)
    : m_record(std::move(record)), m_log(log), m_options(options), m_user(m_record.user)
{
    // A bridge is on the local network: never through a proxy from the environment.
    m_manager.setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    m_manager.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
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
    request(Method::Get, "/api/config", {}, [this](std::optional<Reply> reply) {
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
            Method::Get, "/api/config", {},
            [this, id = std::move(id)](std::optional<Reply> firstReply) {
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
    const std::string body = JSONFromDictionary(Dictionary{{"devicetype", std::string{kDeviceType}}});
    request(Method::Post, "/api", body, [this](std::optional<Reply> reply) {
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
    request(Method::Get, "/api/" + *m_user + "/lights", {}, [this](std::optional<Reply> reply) {
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

SendResult BridgeSystem::resultOf(const std::optional<Reply>& reply)
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
    request(Method::Put, "/api/" + *m_user + "/lights/" + key + "/state", body,
            [this, done = std::move(done)](std::optional<Reply> reply) { done(resultOf(reply)); });
}

void BridgeSystem::readState(const std::string& key, std::function<void(std::optional<ReadLampState>)> done)
{
    if (!m_user || !isUrlSegment(key)) {
        m_later.post([done = std::move(done)] { done(std::nullopt); });
        return;
    }
    request(Method::Get, "/api/" + *m_user + "/lights/" + key, {},
            [done = std::move(done)](std::optional<Reply> reply) {
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

void BridgeSystem::request(Method method, const std::string& path, std::string body, Handler handler,
                           const std::string& host)
{
    QNetworkRequest outgoing(QUrl(QString::fromStdString("http://" + (host.empty() ? m_record.address : host) + path)));
    outgoing.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    outgoing.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    outgoing.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    outgoing.setTransferTimeout(static_cast<int>(m_options.requestTimeout.count()));
    QNetworkReply* reply = nullptr;
    switch (method) {
    case Method::Get:
        reply = m_manager.get(outgoing);
        break;
    case Method::Put:
    case Method::Post:
        outgoing.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        reply = method == Method::Put ? m_manager.put(outgoing, QByteArray::fromStdString(body))
                                      : m_manager.post(outgoing, QByteArray::fromStdString(body));
        break;
    }
    m_replies.insert(reply);

    auto tooLarge = std::make_shared<bool>(false);
    const auto checkSize = [this, reply, tooLarge] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (!*tooLarge && ((length.isValid() && length.toULongLong() > m_options.maxReplyBytes) ||
                           static_cast<std::size_t>(reply->bytesAvailable()) > m_options.maxReplyBytes)) {
            *tooLarge = true;
            reply->abort();
        }
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, &m_context, checkSize);
    QObject::connect(reply, &QNetworkReply::readyRead, &m_context, checkSize);
    QObject::connect(
        reply, &QNetworkReply::finished, &m_context, [this, reply, tooLarge, handler = std::move(handler)] {
            m_replies.erase(reply);
            reply->deleteLater();
            const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
            std::optional<Reply> answer;
            if (*tooLarge) {
                m_log.write(logLine("lamp system " + m_record.id + ": a reply from " + where() + " larger than " +
                                    std::to_string(m_options.maxReplyBytes) + " bytes, dropped"));
            } else if (status.isValid() && (reply->error() == QNetworkReply::NoError ||
                                            reply->error() >= QNetworkReply::ContentAccessDenied)) {
                // An error status with a body is still the bridge's answer.
                answer = Reply{status.toInt(), QString::fromUtf8(reply->readAll()).toStdString()};
            }
            // Told last: the listener may end this system from inside.
            handler(std::move(answer));
        });
}

} // namespace glowcast
