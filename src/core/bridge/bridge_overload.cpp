#include "core/bridge/bridge_overload.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace glowcast {

bool isOverloaded(const std::optional<HttpReply>& reply)
{
    return reply && (reply->status == 429 || reply->status == 503);
}

OverloadDecision afterReply(const std::optional<HttpReply>& reply, std::chrono::milliseconds waitingLeft)
{
    if (!isOverloaded(reply))
        return {};
    const std::chrono::milliseconds wait =
        reply->retryAfter
            ? std::clamp<std::chrono::milliseconds>(*reply->retryAfter, std::chrono::seconds{0}, kLongestOverloadWait)
            : std::chrono::seconds{1};
    if (wait > waitingLeft)
        return {};
    return {true, wait};
}

std::optional<std::chrono::seconds> retryAfterFromHeader(std::string_view header)
{
    const auto first = header.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return std::nullopt;
    header = header.substr(first, header.find_last_not_of(" \t") - first + 1);
    // Ten digits are over three hundred years; a longer number is not a wait anybody means.
    if (header.size() > 10 || !std::ranges::all_of(header, [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    std::int64_t seconds = 0;
    (void)std::from_chars(header.data(), header.data() + header.size(), seconds);
    return std::chrono::seconds{seconds};
}

} // namespace glowcast
