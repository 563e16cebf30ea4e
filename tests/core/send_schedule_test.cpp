#include "core/lamp_care/send_schedule.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace glowcast {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

// Each row, in order for one system: how long until the lamps change, the system's median latency and
// samples, its offset, when its first state goes out, how late its lamp changes (a system slower than the
// delay), and the line told.
TEST(SendScheduleTest, TheFirstStateGoesOutEarlyByTheLatencyLateByTheOffsetAndLatenessIsToldOnce)
{
    const std::tuple<milliseconds, milliseconds, std::size_t, milliseconds, SendPlan, std::string> rows[] = {
        {600ms, 150ms, 3, 0ms, {450ms, 0ms}, ""},
        {600ms, 400ms, 2, 0ms, {600ms, 0ms}, ""}, // too few samples: counts as 0 ms
        {600ms, 400ms, 10, 250ms, {450ms, 0ms}, ""},
        {600ms, 720ms, 10, 0ms, {0ms, 120ms}, "lamp system ha is 120 ms late for the delay of 600 ms"},
        {600ms, 5ms, 50, 0ms, {595ms, 0ms}, "lamp system ha is on time for the delay again"},
    };
    LateNotice notice;
    for (const auto& [changeIn, median, samples, offset, plan, told] : rows) {
        const SendPlan planned = planSend(changeIn, countedLatency(LatencyFigures{median, median, samples}), offset);
        EXPECT_EQ(planned, plan) << changeIn.count() << " " << median.count() << " " << offset.count();
        EXPECT_EQ(notice.told("lamp system ha", planned, 600ms).value_or(""), told);
    }
}

} // namespace
} // namespace glowcast
