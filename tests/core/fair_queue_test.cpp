#include "core/control/fair_queue.h"

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <string>

namespace glowcast {
namespace {

// Each row: what happens in order (a letter hands over one piece of work for that caller, a dot runs
// one, a capital hands over one for its caller that, when it runs, hands over another for that caller),
// then everything left is run; the pieces as they ran, named by caller and number.
TEST(FairQueueTest, RunsOneCallerAtATimeInTurnEachInItsOwnOrder)
{
    const std::pair<const char*, const char*> rows[] = {
        {"", ""},
        {"aaab", "a1 b1 a2 a3"},     // a flood does not keep b waiting behind it
        {"aabbc", "a1 b1 c1 a2 b2"}, // every caller once a round
        {"a.ba", "a1 b1 a2"},        // a caller that ran dry comes back at the end of the round
        {"ab.ab", "a1 b1 a2 b2"},    // one still waiting keeps its place
        {"aab.c.", "a1 b1 a2 c1"},   // a newcomer joins behind those waiting
        {"Ab", "a1 b1 a2"},          // handed over while running: waits its turn
    };
    for (const auto& [steps, expected] : rows) {
        SCOPED_TRACE(steps);
        FairQueue queue;
        std::string ran;
        int handedOver[26] = {};
        std::function<void(char, bool)> handOver = [&](char caller, bool more) {
            const std::string name = caller + std::to_string(++handedOver[caller - 'a']);
            queue.push(std::string(1, caller), [&, caller, more, name] {
                ran += (ran.empty() ? "" : " ") + name;
                if (more)
                    handOver(caller, false);
            });
        };
        for (const char* step = steps; *step != '\0'; ++step) {
            if (*step == '.')
                EXPECT_TRUE(queue.runNext());
            else
                handOver(static_cast<char>(std::tolower(*step)), std::isupper(*step) != 0);
        }
        while (!queue.empty())
            EXPECT_TRUE(queue.runNext());
        EXPECT_FALSE(queue.runNext());
        EXPECT_EQ(ran, expected);
    }
    FairQueue queue; // what each caller has waiting
    for (const char* caller : {"a", "a", "b"})
        queue.push(caller, [] {});
    EXPECT_TRUE(queue.runNext());
    EXPECT_EQ(queue.waiting("a"), 1U);
    EXPECT_EQ(queue.waiting("b"), 1U);
    EXPECT_EQ(queue.waiting("c"), 0U);
}

} // namespace
} // namespace glowcast
