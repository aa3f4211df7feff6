#include "base/worker_pool.h"

#include <gtest/gtest.h>

namespace vornex {
namespace {

TEST(WorkerPool, CountFollowsTheRequestOrTheAvailableCpus) {
    EXPECT_EQ(choose_worker_count(nullptr, 1), 1u);
    EXPECT_EQ(choose_worker_count(nullptr, 6), 6u);
    EXPECT_EQ(choose_worker_count(nullptr, 0), 1u);
    EXPECT_EQ(choose_worker_count("3", 1), 3u);
    EXPECT_EQ(choose_worker_count("4096", 2), 4096u);
    // Anything but a whole number in 1 .. 4096 falls back to the CPUs.
    for (const char* ignored : {"", "0", "-2", "4097", "2x", " ", "1.5", "99999999999999999999"})
        EXPECT_EQ(choose_worker_count(ignored, 5), 5u) << ignored;
}

}  // namespace
}  // namespace vornex
