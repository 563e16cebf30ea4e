#pragma once

#include "core/json/value.h"
#include "core/ports/http_transport.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace glowcast {

// The two requests lamp care makes of the paired bridge, addressed by lamp id. Each blocks until
// the reply arrived and returns nothing when none did (refused, unreachable, timed out, no address
// or user name). An error status or an error list in the body is still a reply.
class LampBridge {
public:
    virtual ~LampBridge() = default;
    // PUT lights/<id>/state with the body encoded by the bridge's codec.
    [[nodiscard]] virtual std::optional<HttpReply> putLampState(std::string_view lampId, const Dictionary& body) = 0;
    // GET lights/<id>: the lamp's record with its "state".
    // The same PUT for a state of the beat's: to a bridge found and paired only, without a log line.
    [[nodiscard]] virtual std::optional<HttpReply> putPulse(std::string_view lampId, const Dictionary& body)
    {
        return putLampState(lampId, body);
    }
    [[nodiscard]] virtual std::optional<HttpReply> getLamp(std::string_view lampId) = 0;
};

} // namespace glowcast
