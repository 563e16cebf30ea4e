#pragma once

#include "core/bridge/lamp_bridge.h"

#include <chrono>
#include <optional>
#include <string_view>

namespace glowcast {

// The longest a Retry-After is heeded, and the whole waiting one batch of lamp commands may spend
// on an overloaded bridge: a bridge that stays overloaded costs a batch a few seconds, not more.
inline constexpr std::chrono::seconds kLongestOverloadWait{3};
inline constexpr std::chrono::seconds kOverloadWaitPerBatch{4};

// HTTP 429 (too many requests) or 503 (unavailable): the bridge could not take the request now.
[[nodiscard]] bool isOverloaded(const std::optional<HttpReply>& reply);

struct OverloadDecision {
    bool resend = false;
    std::chrono::milliseconds wait{0}; // before the resend
    friend bool operator==(const OverloadDecision&, const OverloadDecision&) = default;
};

// What to do after the first reply to a request: an overloaded bridge gets it once more, after its
// Retry-After (capped) or a second without one, but never after a wait longer than what is left of
// the batch's waiting. The reply to that resend is final.
[[nodiscard]] OverloadDecision afterReply(const std::optional<HttpReply>& reply, std::chrono::milliseconds waitingLeft);

// A Retry-After header given in seconds ("2"); nothing for any other form, the date form included.
[[nodiscard]] std::optional<std::chrono::seconds> retryAfterFromHeader(std::string_view header);

} // namespace glowcast
