#pragma once

#include "../value.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace glowcast {

// A reply as the bridge gave it: the HTTP status, the body, and the wait its Retry-After header
// asked for (nothing when the header was absent or could not be read).
struct HttpReply {
    int status = 200;
    std::string body;
    std::optional<std::chrono::seconds> retryAfter;
    friend bool operator==(const HttpReply&, const HttpReply&) = default;
};

// The two requests lamp care makes of the paired bridge, addressed by lamp id. Each blocks until
// the reply arrived and returns nothing when none did (refused, unreachable, timed out, no address
// or user name). An error status or an error list in the body is still a reply.
class LampBridge {
public:
    virtual ~LampBridge() = default;
    // PUT lights/<id>/state with the body encoded by the bridge's codec.
    [[nodiscard]] virtual std::optional<HttpReply> putLampState(std::string_view lampId, const Dictionary& body) = 0;
    // GET lights/<id>: the lamp's record with its "state".
    [[nodiscard]] virtual std::optional<HttpReply> getLamp(std::string_view lampId) = 0;
};

} // namespace glowcast
