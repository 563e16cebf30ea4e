#include "core/operation_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace glowcast {
namespace {

TEST(OperationQueueTest, OperationsHandedOverDuringAnotherRunAfterItInOrderUntilClosed)
{
    OperationQueue queue;
    std::vector<std::string> trace;
    queue.run([&] {
        trace.push_back("set-up begins");
        queue.run([&] {
            trace.push_back("cover 1");
            queue.run([&] { trace.push_back("cover 3"); });
        });
        queue.run([&] { trace.push_back("cover 2"); });
        EXPECT_TRUE(queue.busy());
        EXPECT_EQ(queue.waiting(), 2u);
        trace.push_back("set-up ends");
    });
    EXPECT_EQ(trace, (std::vector<std::string>{"set-up begins", "set-up ends", "cover 1", "cover 2", "cover 3"}));
    EXPECT_FALSE(queue.busy());
    EXPECT_EQ(queue.waiting(), 0u);

    trace.clear(); // closing drops what waits and refuses the rest
    queue.run([&] {
        queue.run([&] { trace.push_back("cover"); });
        queue.close();
        trace.push_back("terminated");
    });
    queue.run([&] { trace.push_back("late"); });
    EXPECT_EQ(trace, std::vector<std::string>{"terminated"});
    EXPECT_TRUE(queue.closed());
}

} // namespace
} // namespace glowcast
