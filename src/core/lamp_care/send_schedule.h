#pragma once

#include "core/lamp_care/latency_record.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace glowcast {

// A system's latency counts once this many states were answered; before that it counts as 0 ms.
inline constexpr std::size_t kLatencySamplesCounted = 3;

// When a system's first lamp state of a cover goes out, so that its lamp changes with every other
// system's: early by the time the system takes to apply a state, and later by its offset.
struct SendPlan {
    std::chrono::milliseconds wait{0}; // from now until the first state goes out
    std::chrono::milliseconds late{0}; // how much later than planned the lamp changes: sent at once
    friend bool operator==(const SendPlan&, const SendPlan&) = default;
};

// The latency a plan counts with: the median, or 0 ms while fewer than three states were answered.
[[nodiscard]] std::chrono::milliseconds countedLatency(const std::optional<LatencyFigures>& figures);

// changeIn: how long from now the lamps are to change (the cover's arrival plus the delay, less the
// time now); it is negative for a cover that was ready after that.
[[nodiscard]] SendPlan planSend(std::chrono::milliseconds changeIn, std::chrono::milliseconds latency,
                                std::chrono::milliseconds offset);

// Tells of a system's lateness once: at its first late plan, and not again until a plan was on time.
class LateNotice {
public:
    // The log line for this plan, if one is due: "lamp system ha is 130 ms late for the delay of 600 ms"
    // and, once on time again, "... is on time for the delay again".
    [[nodiscard]] std::optional<std::string> told(const std::string& system, const SendPlan& plan,
                                                  std::chrono::milliseconds delay);

private:
    bool m_late = false;
};

} // namespace glowcast
