#include "adapters/qt/qt_http_transport.h"

#include "core/lamp_care/bridge_overload.h"

#include <QEventLoop>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace glowcast {

namespace {

const char* methodName(HttpMethod method)
{
    switch (method) {
    case HttpMethod::Get:
        return "GET";
    case HttpMethod::Put:
        return "PUT";
    case HttpMethod::Post:
        return "POST";
    case HttpMethod::Delete:
        return "DELETE";
    }
    return "GET";
}

// Errors below 200 are about the connection or a proxy: no complete reply arrived. Higher codes
// report an HTTP error status, and such a reply still carries its body.
bool isTransportError(QNetworkReply::NetworkError error)
{
    return error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
}

} // namespace

QtHttpTransport::QtHttpTransport(Log& log) : QtHttpTransport(log, Options{})
{
}

QtHttpTransport::QtHttpTransport(Log& log, Options options) : m_log(log), m_options(options)
{
    // The bridge is on the local network: never through a proxy from the environment.
    m_manager.setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    m_manager.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

std::optional<HttpReply> QtHttpTransport::exchange(const HttpRequest& request)
{
    const QString urlText = QString::fromStdString(request.url);
    const QUrl url(urlText, QUrl::StrictMode);
    const std::string described = std::string(methodName(request.method)) + " " + request.url;
    if (!url.isValid() || url.scheme() != QLatin1String("http")) {
        m_log.write("HTTP " + described + " not sent: not a valid http URL");
        return std::nullopt;
    }
    // Qt Network resolves "." and ".." segments and re-encodes escapes before it sends a request;
    // a path it would change goes out exactly as built or not at all.
    const QByteArray wirePath =
        url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::FullyEncoded | QUrl::NormalizePathSegments);
    const std::size_t authority = request.url.find('/', request.url.find("//") + 2);
    if (authority == std::string::npos || wirePath.toStdString() != request.url.substr(authority)) {
        m_log.write("HTTP " + described + " not sent: its path would go out as " + wirePath.toStdString());
        return std::nullopt;
    }

    const std::chrono::milliseconds timeout = m_options.timeout.value_or(request.timeout);
    QNetworkRequest networkRequest(url);
    networkRequest.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    networkRequest.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    networkRequest.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    if (request.method == HttpMethod::Put || request.method == HttpMethod::Post) {
        // The type a body goes out with when nobody names one; naming it spares a warning per
        // request and leaves the bytes on the wire as they were.
        networkRequest.setHeader(QNetworkRequest::ContentTypeHeader,
                                 QStringLiteral("application/x-www-form-urlencoded"));
    }

    const QByteArray body = QByteArray::fromStdString(request.body);
    std::unique_ptr<QNetworkReply> reply;
    switch (request.method) {
    case HttpMethod::Get:
        reply.reset(m_manager.get(networkRequest));
        break;
    case HttpMethod::Put:
        reply.reset(m_manager.put(networkRequest, body));
        break;
    case HttpMethod::Post:
        reply.reset(m_manager.post(networkRequest, body));
        break;
    case HttpMethod::Delete:
        reply.reset(m_manager.deleteResource(networkRequest));
        break;
    }

    bool timedOut = false;
    bool tooLarge = false;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        reply->abort();
    });
    const auto checkSize = [&] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        const bool announcedTooLarge =
            length.isValid() && length.toULongLong() > static_cast<qulonglong>(m_options.maxReplyBytes);
        if (!tooLarge &&
            (announcedTooLarge || static_cast<std::size_t>(reply->bytesAvailable()) > m_options.maxReplyBytes)) {
            tooLarge = true;
            reply->abort();
        }
    };
    QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, &loop, checkSize);
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, checkSize);
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    // One deadline for the whole exchange, from sending to the last byte of the reply.
    if (!reply->isFinished()) {
        deadline.start(timeout);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }

    if (timedOut) {
        m_log.write("HTTP " + described + ": no reply within " + std::to_string(timeout.count()) + " ms");
        return std::nullopt;
    }
    if (tooLarge) {
        m_log.write("HTTP " + described + ": reply larger than " + std::to_string(m_options.maxReplyBytes) +
                    " bytes, dropped");
        return std::nullopt;
    }
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (isTransportError(reply->error()) || !status.isValid()) {
        m_log.write("HTTP " + described + ": " + reply->errorString().toStdString());
        return std::nullopt;
    }
    const QByteArray data = reply->readAll();
    if (static_cast<std::size_t>(data.size()) > m_options.maxReplyBytes) {
        m_log.write("HTTP " + described + ": reply larger than " + std::to_string(m_options.maxReplyBytes) +
                    " bytes, dropped");
        return std::nullopt;
    }
    // Lamp names may hold accented letters: read UTF-8, with any invalid byte replaced.
    return HttpReply{status.toInt(), QString::fromUtf8(data).toStdString(),
                     retryAfterFromHeader(reply->rawHeader("Retry-After").toStdString())};
}

} // namespace glowcast
