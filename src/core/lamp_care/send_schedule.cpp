#include "core/lamp_care/send_schedule.h"

#include <algorithm>

namespace glowcast {

using std::chrono::milliseconds;

milliseconds countedLatency(const std::optional<LatencyFigures>& figures)
{
    if (!figures || figures->samples < kLatencySamplesCounted)
        return milliseconds{0};
    return std::max(figures->median, milliseconds{0});
}

SendPlan planSend(milliseconds changeIn, milliseconds latency, milliseconds offset)
{
    const milliseconds wait = changeIn - latency + offset;
    if (wait < milliseconds{0})
        return {milliseconds{0}, -wait};
    return {wait, milliseconds{0}};
}

std::optional<std::string> LateNotice::told(const std::string& system, const SendPlan& plan, milliseconds delay)
{
    const bool late = plan.late > milliseconds{0};
    if (late == m_late)
        return std::nullopt;
    m_late = late;
    if (!late)
        return system + " is on time for the delay again";
    return system + " is " + std::to_string(plan.late.count()) + " ms late for the delay of " +
           std::to_string(delay.count()) + " ms";
}

} // namespace glowcast
