#include "uf/cpu_batch.h"

#include <gtest/gtest.h>

#include "base/wyrand.h"

namespace vornex {
namespace {

using Bytes = std::vector<uint8_t>;

// Both copy paths against the definition, for check counts around the
// 16-check tiles and 8-check gathers, with guard bytes around the block.
TEST(CpuBatchLanes, PlainAndVectorCopiesMoveTheSameBytes) {
    if (!cpu_has_avx2()) GTEST_SKIP() << "processor without AVX2";
    Wyrand rng(0x7A);
    for (size_t n_checks = 0; n_checks <= 70; ++n_checks) {
        Bytes rows(kLanes * n_checks);
        for (auto& b : rows) b = static_cast<uint8_t>(rng.next_u64());
        const size_t len = kLanes * n_checks + kLaneBlockSlack;
        Bytes plain(len, 0xEE), vec(len, 0xEE);
        transpose_to_lanes_plain(rows.data(), n_checks, plain.data());
        transpose_to_lanes_avx2(rows.data(), n_checks, vec.data());
        ASSERT_EQ(plain, vec) << n_checks;
        for (size_t k = 0; k < n_checks; ++k)
            for (size_t j = 0; j < kLanes; ++j) ASSERT_EQ(plain[k * kLanes + j], rows[j * n_checks + k]);
        for (size_t i = kLanes * n_checks; i < len; ++i) ASSERT_EQ(vec[i], 0xEE);

        for (size_t lane = 0; lane < kLanes; ++lane) {
            Bytes a(n_checks + 1, 0x11), b(n_checks + 1, 0x11);
            gather_lane_plain(plain.data(), n_checks, lane, a.data());
            gather_lane_avx2(plain.data(), n_checks, lane, b.data());
            ASSERT_EQ(a, b) << n_checks << " lane " << lane;
            ASSERT_EQ(Bytes(a.begin(), a.end() - 1), Bytes(rows.begin() + lane * n_checks, rows.begin() + (lane + 1) * n_checks));
            ASSERT_EQ(b.back(), 0x11);
        }
    }
}

TEST(CpuBatchLanes, DispatchPicksTheVectorPathOnlyWithAvx2) {
    const LaneCopies copies = lane_copies();
    EXPECT_EQ(copies.transpose == transpose_to_lanes_avx2, cpu_has_avx2());
    EXPECT_EQ(copies.gather == gather_lane_avx2, cpu_has_avx2());
}

}  // namespace
}  // namespace vornex
