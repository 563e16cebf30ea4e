#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <utility>

namespace glowcast {

enum class HttpMethod { Get, Put, Post, Delete };

struct HttpRequest {
    HttpMethod method = HttpMethod::Get;
    std::string url;
    std::string body; // empty for GET and DELETE
    std::chrono::milliseconds timeout{30'000};
    friend bool operator==(const HttpRequest&, const HttpRequest&) = default;
};

// A reply as the server gave it: the HTTP status, the body, and the wait its Retry-After header
// asked for (nothing when the header was absent or not a number of seconds).
struct HttpReply {
    int status = 200;
    std::string body;
    std::optional<std::chrono::seconds> retryAfter;
    friend bool operator==(const HttpReply&, const HttpReply&) = default;
};

// One synchronous exchange. Returns the reply, or nothing when no reply arrived (refused,
// unreachable, timed out, dropped, or larger than the transport accepts). An error status with a
// body is still a reply; an empty body is a reply of zero bytes. Blocks the caller until then.
class HttpTransport {
public:
    virtual ~HttpTransport() = default;
    [[nodiscard]] virtual std::optional<HttpReply> exchange(const HttpRequest& request) = 0;

    // The exchange for a caller that reads only the body.
    [[nodiscard]] std::optional<std::string> send(const HttpRequest& request)
    {
        std::optional<HttpReply> reply = exchange(request);
        if (!reply)
            return std::nullopt;
        return std::move(reply->body);
    }
};

} // namespace glowcast
