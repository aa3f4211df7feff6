#include "base/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

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

// The caller may run out of indices while a worker is still deep in a long
// step: it keeps asking the sink while it waits, and the worker sees the
// stop. Steps are long only on workers; the sink says stop once one began.
TEST(WorkerPool, AWorkersLongStepSeesAStopWhileTheCallerWaits) {
    if (worker_count() < 2) GTEST_SKIP() << "needs a worker beside the caller";
    using Clock = std::chrono::steady_clock;
    std::atomic<bool> long_step_began{false};
    Clock::time_point began;
    struct StopOnceBegun final : ProgressSink {
        explicit StopOnceBegun(std::atomic<bool>& began) : began(began) {}
        std::atomic<bool>& began;
        bool report(uint64_t, uint64_t) override { return !began.load(); }
    } sink(long_step_began);
    const auto caller = std::this_thread::get_id();
    {
        PollScope scope(&sink);
        EXPECT_THROW(parallel_for(1 << 20,
                                  [&](size_t) {
                                      if (std::this_thread::get_id() == caller) {
                                          std::this_thread::sleep_for(std::chrono::microseconds(200));
                                          return;
                                      }
                                      if (long_step_began.exchange(true)) return;
                                      began = Clock::now();
                                      while (Clock::now() - began < std::chrono::seconds(10))
                                          if (stop_requested()) return;
                                  }),
                     WorkStopped);
    }
    ASSERT_TRUE(long_step_began.load());
    EXPECT_LT(Clock::now() - began, std::chrono::seconds(2));
}

}  // namespace
}  // namespace vornex
