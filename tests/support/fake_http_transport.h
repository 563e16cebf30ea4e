#pragma once

#include "core/ports/http_transport.h"

#include <deque>
#include <vector>

namespace glowcast {

// Records every request and answers with the queued replies in order; nothing once they run out.
class FakeHttpTransport final : public HttpTransport {
public:
    std::vector<HttpRequest> sent;
    std::deque<std::optional<std::string>> replies;

    std::optional<HttpReply> exchange(const HttpRequest& request) override
    {
        sent.push_back(request);
        if (replies.empty())
            return std::nullopt;
        const std::optional<std::string> next = std::move(replies.front());
        replies.pop_front();
        return next ? std::optional{HttpReply{200, *next, std::nullopt}} : std::nullopt;
    }
};

} // namespace glowcast
