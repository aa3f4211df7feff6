#include "matching/sparse/radix_queue.h"

#include <gtest/gtest.h>

#include <queue>

#include "base/wyrand.h"

namespace vornex::sparse {
namespace {

struct Item {
    Time time;
    uint32_t tag;
};

// Pops agree with a standard priority queue on times (ties in any order)
// under interleaved pushes at or after the last pop, across clears and with
// times spread over many magnitudes.
TEST(RadixQueue, AgreesWithAStandardPriorityQueue) {
    Wyrand rng(3);
    RadixQueue<Item> queue;
    for (int round = 0; round < 200; ++round) {
        std::priority_queue<Time, std::vector<Time>, std::greater<>> reference;
        queue.clear();
        Time now = 0;
        const int ops = 1 + static_cast<int>(rng.next_u64() % 500);
        for (int op = 0; op < ops; ++op) {
            if (reference.empty() || rng.next_u64() % 3 != 0) {
                const int shift = static_cast<int>(rng.next_u64() % 40);
                const Time t = now + static_cast<Time>(rng.next_u64() % ((uint64_t{1} << shift) + 1));
                queue.push({t, static_cast<uint32_t>(op)});
                reference.push(t);
            } else {
                const Item got = queue.pop();
                ASSERT_EQ(got.time, reference.top());
                reference.pop();
                now = got.time;
            }
            ASSERT_EQ(queue.size(), reference.size());
        }
        while (!reference.empty()) {
            ASSERT_EQ(queue.pop().time, reference.top());
            reference.pop();
        }
        EXPECT_TRUE(queue.empty());
    }
}

TEST(RadixQueue, LateItemsWaitAtTheLastPop) {
    RadixQueue<Item> queue;
    queue.push({10, 0});
    EXPECT_EQ(queue.pop().time, 10);
    queue.push({4, 1});
    EXPECT_EQ(queue.pop().time, 10);
}

}  // namespace
}  // namespace vornex::sparse
