#include "adapters/http/http_recipe.h"

#include "core/bridge/bridge_overload.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QString>
#include <QTimer>

namespace glowcast {
namespace {

// Why a reply was aborted while it arrived, kept on the reply itself for outcomeOf().
constexpr const char* kDropped = "glowcastDropped";
enum class Dropped { TimedOut = 1, TooLarge };

std::string tooLarge(const HttpBounds& bounds)
{
    return "a reply larger than " + std::to_string(bounds.maxReplyBytes) + " bytes, dropped";
}

} // namespace

void setUpHttpManager(QNetworkAccessManager& manager)
{
    manager.setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    manager.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

std::optional<std::string> urlRefusal(const std::string& urlText, const QUrl& url, bool httpsToo)
{
    const bool schemeTaken =
        url.scheme() == QLatin1String("http") || (httpsToo && url.scheme() == QLatin1String("https"));
    if (!url.isValid() || !schemeTaken)
        return httpsToo ? "not a valid http or https URL" : "not a valid http URL";
    const QByteArray wirePath =
        url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::FullyEncoded | QUrl::NormalizePathSegments);
    const std::size_t authority = urlText.find('/', urlText.find("//") + 2);
    if (authority == std::string::npos || wirePath.toStdString() != urlText.substr(authority))
        return "its path would go out as " + wirePath.toStdString();
    return std::nullopt;
}

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

QNetworkRequest httpRequestTo(const QUrl& url)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    return request;
}

QNetworkReply* sendHttp(QNetworkAccessManager& manager, HttpMethod method, QNetworkRequest request,
                        const QByteArray& body, const QString& contentType)
{
    switch (method) {
    case HttpMethod::Get:
        return manager.get(request);
    case HttpMethod::Put:
        request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
        return manager.put(request, body);
    case HttpMethod::Post:
        request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
        return manager.post(request, body);
    case HttpMethod::Delete:
        return manager.deleteResource(request);
    }
    return manager.get(request);
}

void boundReply(QNetworkReply& reply, const HttpBounds& bounds)
{
    QNetworkReply* watched = &reply;
    const std::size_t cap = bounds.maxReplyBytes;
    const auto drop = [watched](Dropped why) {
        if (watched->isFinished() || watched->property(kDropped).isValid())
            return;
        watched->setProperty(kDropped, static_cast<int>(why));
        watched->abort();
    };
    const auto checkSize = [watched, cap, drop] {
        const QVariant length = watched->header(QNetworkRequest::ContentLengthHeader);
        if ((length.isValid() && length.toULongLong() > cap) ||
            static_cast<std::size_t>(watched->bytesAvailable()) > cap)
            drop(Dropped::TooLarge);
    };
    QObject::connect(watched, &QNetworkReply::metaDataChanged, watched, checkSize);
    QObject::connect(watched, &QNetworkReply::readyRead, watched, checkSize);
    auto* deadline = new QTimer(watched);
    deadline->setSingleShot(true);
    deadline->setTimerType(Qt::PreciseTimer);
    QObject::connect(deadline, &QTimer::timeout, watched, [drop] { drop(Dropped::TimedOut); });
    QObject::connect(watched, &QNetworkReply::finished, deadline, &QTimer::stop);
    deadline->start(bounds.timeout);
}

HttpOutcome outcomeOf(QNetworkReply& reply, const HttpBounds& bounds)
{
    const QVariant dropped = reply.property(kDropped);
    if (dropped == static_cast<int>(Dropped::TimedOut))
        return {std::nullopt, "no reply within " + std::to_string(bounds.timeout.count()) + " ms"};
    if (dropped == static_cast<int>(Dropped::TooLarge))
        return {std::nullopt, tooLarge(bounds)};
    // Errors below 200 are about the connection or a proxy: no complete reply arrived. Higher codes
    // report an HTTP error status, and such a reply still carries its body.
    const QNetworkReply::NetworkError error = reply.error();
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid() || (error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied)) {
        const std::string why = reply.errorString().toStdString();
        if (error == QNetworkReply::SslHandshakeFailedError)
            return {std::nullopt, "its certificate is not trusted (" + why + ")"};
        return {std::nullopt, "no answer (" + why + ")"};
    }
    const QByteArray data = reply.readAll();
    if (static_cast<std::size_t>(data.size()) > bounds.maxReplyBytes)
        return {std::nullopt, tooLarge(bounds)};
    // Lamp names may hold accented letters: read UTF-8, with any invalid byte replaced.
    return {HttpReply{status.toInt(), QString::fromUtf8(data).toStdString(),
                      retryAfterFromHeader(reply.rawHeader("Retry-After").toStdString())},
            {}};
}

} // namespace glowcast
