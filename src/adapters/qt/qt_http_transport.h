#pragma once

#include "core/ports/http_transport.h"
#include "core/ports/log.h"

#include <QNetworkAccessManager>

#include <chrono>
#include <cstddef>
#include <optional>

namespace glowcast {

// The HTTP exchange over Qt Network. Synchronous to its caller: while it waits it runs a local
// event loop that leaves user input queued, so windows keep painting. One manager serves every
// request, so consecutive requests to the same bridge reuse their connection. No proxy, no cache,
// no redirects followed and no header fields of our own. Reply bodies are read as UTF-8, invalid
// bytes replaced; a reply larger than the cap, or not complete within the timeout, is no reply.
// An HTTP error status with a body is a reply, with its status and Retry-After. A URL whose path
// the HTTP layer would change (dot segments resolved, escapes re-encoded) is not sent. Needs a
// QCoreApplication; main thread only.
class QtHttpTransport final : public HttpTransport {
public:
    struct Options {
        // Replaces each request's own timeout when set: tests wait for less than 30 seconds.
        std::optional<std::chrono::milliseconds> timeout;
        std::size_t maxReplyBytes = std::size_t{8} << 20;
    };

    explicit QtHttpTransport(Log& log);
    QtHttpTransport(Log& log, Options options);

    [[nodiscard]] std::optional<HttpReply> exchange(const HttpRequest& request) override;

private:
    Log& m_log;
    Options m_options;
    QNetworkAccessManager m_manager;
};

} // namespace glowcast
