#pragma once

#include "core/ports/http_transport.h"

#include <QByteArray>
#include <QNetworkRequest>
#include <QUrl>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

class QNetworkAccessManager;
class QNetworkReply;

namespace glowcast {

// How every client of ours speaks HTTP over Qt Network. Bridges and lamp systems are on the local
// network: never through a proxy from the environment, never a cached reply, HTTP/1.1 only, and no
// redirect followed, so nothing in a request ever reaches another host.

// A manager as every client needs it: no proxy, redirects left unfollowed.
void setUpHttpManager(QNetworkAccessManager& manager);

// Why a URL is not sent, or nothing when it may be. Only http (and https when allowed); a path that
// Qt Network would change before sending (dot segments resolved, escapes re-encoded) goes out exactly
// as built or not at all.
[[nodiscard]] std::optional<std::string> urlRefusal(const std::string& urlText, const QUrl& url, bool httpsToo);

[[nodiscard]] const char* methodName(HttpMethod method);

// A request as every client sends it; header fields and TLS are the caller's to add.
[[nodiscard]] QNetworkRequest httpRequestTo(const QUrl& url);

// Sends the request, a PUT or POST body with the content type given. The reply is the caller's.
[[nodiscard]] QNetworkReply* sendHttp(QNetworkAccessManager& manager, HttpMethod method, QNetworkRequest request,
                                      const QByteArray& body, const QString& contentType);

// The most a reply may hold and the longest one exchange may take, from sending to the last byte.
struct HttpBounds {
    std::size_t maxReplyBytes = std::size_t{8} << 20;
    std::chrono::milliseconds timeout{30'000};
};

// Watches the reply as it arrives: it is aborted once it is announced or found larger than the cap,
// or when it is not complete within the timeout. Tied to the reply: nothing to keep or end.
void boundReply(QNetworkReply& reply, const HttpBounds& bounds);

// What came of a finished reply: the server's reply (an error status with its body is a reply too;
// the body read as UTF-8, invalid bytes replaced), or why there is none, for the log and a system's
// state: no reply within the timeout, larger than the cap, a certificate not trusted, no answer.
struct HttpOutcome {
    std::optional<HttpReply> reply;
    std::string failure;
};
[[nodiscard]] HttpOutcome outcomeOf(QNetworkReply& reply, const HttpBounds& bounds);

} // namespace glowcast
