#include "adapters/qt/qt_timers.h"
#include "adapters/qt/queued_ports.h"
#include "core/control/operation_queue.h"
#include "support/fake_platform.h"
#include "support/recording_log.h"
#include "support/waiting.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace glowcast {
namespace {

using namespace std::chrono_literals;

// A lamp system's sender goes on while an operation waits: its timer fires inside the operation's
// local loop, not after it; a new start replaces the pending action and a cancel drops it. A delayed
// call that fires meanwhile runs once, from the event loop, after the operation.
TEST(QueuedPortsTest, ATimerFiresInsideAWaitingOperationAndADelayedCallAfterIt)
{
    OperationQueue queue;
    QtTimers timers;
    QtScheduler scheduler{queue};
    const std::unique_ptr<Timer> timer = timers.create();
    const std::unique_ptr<Timer> cancelled = timers.create();
    std::vector<std::string> trace;
    cancelled->start(0ms, [&] { trace.push_back("cancelled"); });
    cancelled->cancel();
    scheduler.schedule(0ms, [&] { trace.push_back("delayed set-up"); });
    EXPECT_TRUE(trace.empty()) << "never inside schedule";
    queue.run([&] {
        timer->start(0ms, [&] { trace.push_back("replaced"); });
        timer->start(5ms, [&] { trace.push_back("sender"); });
        EXPECT_TRUE(testing::waitFor([&] { return !trace.empty() && queue.waiting() > 0; }, 5'000));
        trace.push_back("operation done");
    });
    EXPECT_TRUE(testing::waitFor([&] { return trace.size() >= 3; }, 5'000));
    QCoreApplication::processEvents(); // a second firing would come now
    EXPECT_EQ(trace, (std::vector<std::string>{"sender", "operation done", "delayed set-up"}));
}

// Covers posted while one is handled wait for it; of those only the newest is handled, the others
// dropped with a line each. The follower never runs inside the posting. A cover of the program's own
// posted before anyone follows waits for the first follower.
TEST(QueuedPortsTest, ACoverThatWaitsIsSupersededByANewerOne)
{
    OperationQueue queue;
    FakeCoverFeed bus;
    RecordingLog log;
    QueuedCoverFeed covers{bus, queue, log};
    std::vector<std::string> trace;
    const auto post = [&](char cover) { bus.post({{static_cast<std::uint8_t>(cover)}, "Coverdeck"}); };
    covers.post({{'p'}, "mpv"});
    covers.follow([&](const CoverArrival& cover) {
        trace.push_back("begin " + std::string(1, static_cast<char>(cover.bytes.at(0))) + " from " + cover.source);
        if (trace.size() == 1)
            for (const char next : {'b', 'c', 'd'})
                post(next);
        trace.push_back("end");
    });
    post('a'); // supersedes the player's cover that waits
    EXPECT_TRUE(trace.empty());
    EXPECT_TRUE(testing::waitFor([&] { return trace.size() == 4; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(trace, (std::vector<std::string>{"begin a from Coverdeck", "end", "begin d from Coverdeck", "end"}));
    EXPECT_EQ(log.lines, std::vector<std::string>(3, "covers: a newer cover from \"Coverdeck\" arrived before the "
                                                     "waiting one was handled; the waiting one is dropped"));
}

} // namespace
} // namespace glowcast
