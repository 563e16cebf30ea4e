#include "adapters/http/json_http_client.h"

#include "adapters/files/regular_file.h"
#include "core/log_text.h"

#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslError>
#include <QSslSocket>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace glowcast {
namespace {

// A CA file holds a certificate or a short chain: a megabyte is far more than any.
constexpr std::size_t kLongestCaFile = std::size_t{1} << 20;

const char* methodName(JsonHttpCall::Method method)
{
    switch (method) {
    case JsonHttpCall::Method::Get:
        return "GET";
    case JsonHttpCall::Method::Post:
        return "POST";
    case JsonHttpCall::Method::Put:
        return "PUT";
    }
    return "GET";
}

} // namespace

JsonHttpClient::JsonHttpClient(Options options, Log& log) : m_options(std::move(options)), m_log(log)
{
    // A lamp system is on the local network: never through a proxy from the environment.
    m_manager.setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    m_manager.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
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
    const QUrl url(QString::fromStdString(m_options.baseAddress + call.path), QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))) {
        m_log.write(logLine(m_options.logPrefix + described + " not sent: not a valid address"));
        failLater("not a valid address", std::move(handler));
        return;
    }
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setTransferTimeout(static_cast<int>(m_options.timeout.count()));
    if (m_tls)
        request.setSslConfiguration(*m_tls);
    for (const auto& [name, value] : call.headers)
        request.setRawHeader(QByteArray::fromStdString(name), QByteArray::fromStdString(value));
    QNetworkReply* reply = nullptr;
    switch (call.method) {
    case JsonHttpCall::Method::Get:
        reply = m_manager.get(request);
        break;
    case JsonHttpCall::Method::Post:
    case JsonHttpCall::Method::Put:
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        reply = call.method == JsonHttpCall::Method::Post
                    ? m_manager.post(request, QByteArray::fromStdString(call.body))
                    : m_manager.put(request, QByteArray::fromStdString(call.body));
        break;
    }
    m_replies.insert(reply);

    const std::size_t cap = call.maxReplyBytes;
    auto tooLarge = std::make_shared<bool>(false);
    const auto checkSize = [reply, tooLarge, cap] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (!*tooLarge && ((length.isValid() && length.toULongLong() > cap) ||
                           static_cast<std::size_t>(reply->bytesAvailable()) > cap)) {
            *tooLarge = true;
            reply->abort();
        }
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, &m_context, checkSize);
    QObject::connect(reply, &QNetworkReply::readyRead, &m_context, checkSize);
    QObject::connect(reply, &QNetworkReply::finished, &m_context,
                     [this, reply, tooLarge, cap, described, handler = std::move(handler)] {
                         m_replies.erase(reply);
                         reply->deleteLater();
                         const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
                         JsonHttpResult result;
                         if (*tooLarge) {
                             result.failure = "a reply larger than " + std::to_string(cap) + " bytes";
                         } else if (status.isValid() && status.toInt() >= 300 && status.toInt() < 400) {
                             // Never followed: the next host would be sent the header fields, the token among them.
                             const QString location = QString::fromUtf8(reply->rawHeader("Location")).left(200);
                             result.failure = "redirected to " + location.toStdString() + "; not followed";
                         } else if (status.isValid() && (reply->error() == QNetworkReply::NoError ||
                                                         reply->error() >= QNetworkReply::ContentAccessDenied)) {
                             result.answer = JsonHttpAnswer{status.toInt(), reply->readAll().toStdString()};
                         } else if (reply->error() == QNetworkReply::SslHandshakeFailedError) {
                             result.failure =
                                 "its certificate is not trusted (" + reply->errorString().toStdString() + ")";
                         } else {
                             result.failure = "no answer (" + reply->errorString().toStdString() + ")";
                         }
                         if (!result.answer)
                             m_log.write(logLine(m_options.logPrefix + described + ": " + result.failure));
                         // Told last: the handler may end this client from inside.
                         handler(std::move(result));
                     });
}

} // namespace glowcast
