#include "adapters/http/json_http_client.h"

#include "adapters/files/regular_file.h"
#include "adapters/http/http_recipe.h"
#include "core/text/log_text.h"

#include <QNetworkReply>
#include <QSslCertificate>
#include <QSslError>
#include <QSslSocket>
#include <QTimer>
#include <QUrl>

namespace glowcast {
namespace {

// A CA file holds a certificate or a short chain: a megabyte is far more than any.
constexpr std::size_t kLongestCaFile = std::size_t{1} << 20;

} // namespace

JsonHttpClient::JsonHttpClient(Options options, Log& log) : m_options(std::move(options)), m_log(log)
{
    setUpHttpManager(m_manager);
    if (!m_options.baseAddress.starts_with("https://"))
        return;
    if (!QSslSocket::supportsSsl()) {
        m_setUpFailure = "this system has no TLS library for https";
        return;
    }
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (m_options.caFile) {
        const FileRead read = readRegularFile(*m_options.caFile, kLongestCaFile);
        const QList<QSslCertificate> pinned =
            read.ok() ? QSslCertificate::fromData(QByteArray(reinterpret_cast<const char*>(read.bytes.data()),
                                                             static_cast<qsizetype>(read.bytes.size())),
                                                  QSsl::Pem)
                      : QList<QSslCertificate>{};
        if (pinned.isEmpty()) {
            m_setUpFailure = "the CA file " + m_options.caFile->string() +
                             (read.ok() ? std::string{" holds no PEM certificate"} : ": " + read.reason);
            m_log.write(logLine(m_options.logPrefix + m_setUpFailure));
            return;
        }
        tls.setCaCertificates(pinned);
    }
    m_tls = tls;
}

JsonHttpClient::~JsonHttpClient()
{
    stop();
}

void JsonHttpClient::stop()
{
    ++m_generation;
    // Disconnected first: an aborted reply tells it finished at once, and nothing is told after a stop.
    for (QNetworkReply* reply : std::exchange(m_replies, {})) {
        QObject::disconnect(reply, nullptr, &m_context, nullptr);
        reply->abort();
        reply->deleteLater();
    }
}

void JsonHttpClient::failLater(std::string failure, Handler handler)
{
    const std::uint64_t generation = m_generation;
    QTimer::singleShot(0, &m_context,
                       [this, generation, failure = std::move(failure), handler = std::move(handler)]() mutable {
                           if (generation == m_generation)
                               handler({std::nullopt, std::move(failure)});
                       });
}

void JsonHttpClient::call(const JsonHttpCall& call, Handler handler)
{
    const std::string described = std::string{methodName(call.method)} + " " + call.path;
    if (!m_setUpFailure.empty()) {
        failLater(m_setUpFailure, std::move(handler));
        return;
    }
    const std::string urlText = m_options.baseAddress + call.path;
    const QUrl url(QString::fromStdString(urlText), QUrl::StrictMode);
    if (std::optional<std::string> refusal = urlRefusal(urlText, url, true)) {
        m_log.write(logLine(m_options.logPrefix + described + " not sent: " + *refusal));
        failLater(std::move(*refusal), std::move(handler));
        return;
    }
    QNetworkRequest request = httpRequestTo(url);
    if (m_tls)
        request.setSslConfiguration(*m_tls);
    for (const auto& [name, value] : call.headers)
        request.setRawHeader(QByteArray::fromStdString(name), QByteArray::fromStdString(value));
    QNetworkReply* reply = sendHttp(m_manager, call.method, std::move(request), QByteArray::fromStdString(call.body),
                                    QStringLiteral("application/json"));
    m_replies.insert(reply);
    const HttpBounds bounds{call.maxReplyBytes, m_options.timeout};
    boundReply(*reply, bounds);
    QObject::connect(reply, &QNetworkReply::finished, &m_context,
                     [this, reply, bounds, described, handler = std::move(handler)] {
                         m_replies.erase(reply);
                         reply->deleteLater();
                         HttpOutcome outcome = outcomeOf(*reply, bounds);
                         if (outcome.reply && outcome.reply->status >= 300 && outcome.reply->status < 400) {
                             // Never followed: the next host would be sent the header fields, the token among them.
                             const QString location = QString::fromUtf8(reply->rawHeader("Location")).left(200);
                             outcome = {std::nullopt, "redirected to " + location.toStdString() + "; not followed"};
                         }
                         if (!outcome.reply)
                             m_log.write(logLine(m_options.logPrefix + described + ": " + outcome.failure));
                         // Told last: the handler may end this client from inside.
                         handler(std::move(outcome));
                     });
}

} // namespace glowcast
