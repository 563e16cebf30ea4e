#include "adapters/qt/qt_http_transport.h"

#include "adapters/http/http_recipe.h"

#include <QEventLoop>
#include <QNetworkReply>
#include <QString>
#include <QUrl>

#include <memory>

namespace glowcast {

QtHttpTransport::QtHttpTransport(Log& log) : QtHttpTransport(log, Options{})
{
}

QtHttpTransport::QtHttpTransport(Log& log, Options options) : m_log(log), m_options(options)
{
    setUpHttpManager(m_manager);
}

std::optional<HttpReply> QtHttpTransport::exchange(const HttpRequest& request)
{
    const QUrl url(QString::fromStdString(request.url), QUrl::StrictMode);
    const std::string described = std::string(methodName(request.method)) + " " + request.url;
    if (const std::optional<std::string> refusal = urlRefusal(request.url, url, false)) {
        m_log.write("HTTP " + described + " not sent: " + *refusal);
        return std::nullopt;
    }

    // The type a body goes out with when nobody names one; naming it spares a warning per request and
    // leaves the bytes on the wire as they were.
    const std::unique_ptr<QNetworkReply> reply{sendHttp(m_manager, request.method, httpRequestTo(url),
                                                        QByteArray::fromStdString(request.body),
                                                        QStringLiteral("application/x-www-form-urlencoded"))};
    const HttpBounds bounds{m_options.maxReplyBytes, m_options.timeout.value_or(request.timeout)};
    boundReply(*reply, bounds);
    if (!reply->isFinished()) {
        QEventLoop loop;
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    HttpOutcome outcome = outcomeOf(*reply, bounds);
    if (!outcome.reply)
        m_log.write("HTTP " + described + ": " + outcome.failure);
    return std::move(outcome.reply);
}

} // namespace glowcast
