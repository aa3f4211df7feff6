#include "base/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

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

// A step that could run for seconds sees a stop inside its slice: the
// calling thread asks the sink about 50 ms into the slice, every piece
// returns at its next look, and the call unwinds as WorkStopped.
TEST(WorkerPool, LongStepsSeeAStopInsideTheirSlice) {
    using Clock = std::chrono::steady_clock;
    struct StopWhenAsked final : ProgressSink {
        std::atomic<int> asked{0};
        bool report(uint64_t, uint64_t) override {
            ++asked;
            return false;
        }
    } sink;
    std::atomic<int> returned_early{0};
    const auto started = Clock::now();
    {
        PollScope scope(&sink);
        EXPECT_THROW(parallel_for_ranges(worker_count(),
                                         [&](size_t begin, size_t end) {
                                             for (size_t i = begin; i < end; ++i) {
                                                 const auto step = Clock::now();
                                                 while (Clock::now() - step < std::chrono::seconds(5))
                                                     if (stop_requested()) {
                                                         ++returned_early;
                                                         return;
                                                     }
                                             }
                                         }),
                     WorkStopped);
    }
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(2));
    EXPECT_EQ(sink.asked.load(), 1);
    EXPECT_GE(returned_early.load(), 1);
    EXPECT_FALSE(stop_requested());  // outside a polled call nothing is stopped
}

}  // namespace
}  // namespace vornex
