#include "base/wyrand.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "base/worker_pool.h"

namespace vornex {
namespace {

// Straight from the published definition, with the 128-bit product split
// into 32-bit limbs so it does not share the generator's arithmetic.
uint64_t reference_wyrand(uint64_t& s) {
    s += 0x2d358dccaa6c78a5ull;
    const uint64_t a = s, b = s ^ 0x8bb84b93962eacc9ull;
    const uint64_t a_lo = a & 0xffffffffu, a_hi = a >> 32, b_lo = b & 0xffffffffu, b_hi = b >> 32;
    const uint64_t lo_lo = a_lo * b_lo, hi_lo = a_hi * b_lo, lo_hi = a_lo * b_hi, hi_hi = a_hi * b_hi;
    const uint64_t cross = (lo_lo >> 32) + (hi_lo & 0xffffffffu) + lo_hi;
    const uint64_t high = hi_hi + (hi_lo >> 32) + (cross >> 32);
    const uint64_t low = (cross << 32) | (lo_lo & 0xffffffffu);
    return high ^ low;
}

TEST(Wyrand, MatchesDefinitionAndIsReproducible) {
    for (uint64_t seed : {0ull, 1ull, 42ull, 0xffffffffffffffffull}) {
        Wyrand rng(seed), again(seed);
        uint64_t s = seed;
        for (int i = 0; i < 1000; ++i) {
            const uint64_t x = rng.next_u64();
            EXPECT_EQ(x, reference_wyrand(s));
            EXPECT_EQ(x, again.next_u64());
        }
    }
}

TEST(Wyrand, UnitDrawsStayBelowOne) {
    Wyrand rng(7);
    double lowest = 1.0, highest = 0.0;
    for (int i = 0; i < 100000; ++i) {
        const double x = rng.next_unit();
        ASSERT_GE(x, 0.0);
        ASSERT_LT(x, 1.0);
        lowest = std::min(lowest, x);
        highest = std::max(highest, x);
    }
    EXPECT_LT(lowest, 0.001);
    EXPECT_GT(highest, 0.999);
}

TEST(Wyrand, PerThreadGeneratorsDiffer) {
    std::set<uint64_t> firsts;
    firsts.insert(thread_rng().next_u64());
    for (int t = 0; t < 4; ++t) {
        std::thread worker([&] { firsts.insert(derive_rng().next_u64()); });
        worker.join();
    }
    EXPECT_EQ(firsts.size(), 5u);
}

TEST(WorkerPool, CoversEveryIndexExactlyOnce) {
    for (size_t n : {0u, 1u, 7u, 1000u, 100000u}) {
        std::vector<std::atomic<int>> hits(n);
        parallel_for(n, [&](size_t i) { hits[i].fetch_add(1); });
        for (size_t i = 0; i < n; ++i) ASSERT_EQ(hits[i].load(), 1) << n << " " << i;
    }
    EXPECT_GE(worker_count(), 1u);
}

}  // namespace
}  // namespace vornex
