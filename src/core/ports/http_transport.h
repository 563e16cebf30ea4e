#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace glowcast {

enum class HttpMethod { Get, Put, Post, Delete };

struct HttpRequest {
    HttpMethod method = HttpMethod::Get;
    std::string url;
    std::string body;  // empty for GET and DELETE
    std::chrono::milliseconds timeout{30'000};
    friend bool operator==(const HttpRequest&, const HttpRequest&) = default;
};

// One synchronous exchange. Returns the reply body, or nothing when no reply arrived (refused,
// unreachable, timed out, dropped, or larger than the transport accepts). An error status with a
// body is still a reply; an empty body is a reply of zero bytes. Blocks the caller until then.
class HttpTransport {
public:
    virtual ~HttpTransport() = default;
    [[nodiscard]] virtual std::optional<std::string> send(const HttpRequest& request) = 0;
};

}  // namespace glowcast
