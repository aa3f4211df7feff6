#include "matching/graphlike_gf2.h"

#include <gtest/gtest.h>

#include "base/wyrand.h"
#include "matching/parity_check.h"

namespace vornex {
namespace {

using Bytes = std::vector<uint8_t>;

// Qubits in zero to three random checks, some repeated inside a check (odd
// and even times), some indices at or above n_qubits.
CheckList random_code(Wyrand& rng, size_t n_checks, size_t n_qubits, bool allow_three) {
    CheckList checks(n_checks);
    if (n_checks == 0) return checks;
    for (uint32_t q = 0; q < n_qubits + 2; ++q) {
        const uint64_t touches = rng.next_u64() % (allow_three ? 4 : 3);
        for (uint64_t k = 0; k < touches; ++k) {
            auto& check = checks[rng.next_u64() % n_checks];
            const uint64_t copies = rng.next_u64() % 5 == 0 ? 2 + rng.next_u64() % 2 : 1;
            for (uint64_t r = 0; r < copies; ++r) check.push_back(q);
        }
    }
    for (auto& check : checks)
        for (size_t i = check.size(); i > 1; --i) std::swap(check[i - 1], check[rng.next_u64() % i]);
    return checks;
}

// The forest walk and the dense elimination agree on every answer, solvable
// or not, and the forest walk claims exactly the codes it can solve.
TEST(GraphlikeGf2, SameAnswersAsTheDenseElimination) {
    Wyrand rng(4242);
    size_t graphlike = 0, inconsistent = 0;
    for (int t = 0; t < 4000; ++t) {
        const size_t n_checks = rng.next_u64() % 12;
        const size_t n_qubits = rng.next_u64() % 20;
        const CheckList checks = random_code(rng, n_checks, n_qubits, t % 4 == 0);
        Bytes syndrome(n_checks);
        for (auto& b : syndrome) b = static_cast<uint8_t>(rng.next_u64() % (t % 3 == 0 ? 4 : 2));
        const auto dense = solve_gf2_dense(checks, n_qubits, syndrome);
        const GraphlikeSolve forest = solve_gf2_graphlike(checks, n_qubits, syndrome);
        if (t % 4 != 0) {
            ASSERT_TRUE(forest.graphlike) << t;
        }
        ASSERT_EQ(solve_gf2(checks, n_qubits, syndrome), dense) << t;
        if (forest.graphlike) {
            ASSERT_EQ(forest.x, dense) << t;
            ++graphlike;
            inconsistent += !dense.has_value();
        }
    }
    EXPECT_GT(graphlike, 3000u);
    EXPECT_GT(inconsistent, 300u);
}

TEST(GraphlikeGf2, ThreeChecksLeaveTheDenseElimination) {
    EXPECT_FALSE(solve_gf2_graphlike({{0}, {0}, {0}}, 1, Bytes{1, 1, 1}).graphlike);
    EXPECT_FALSE(solve_gf2_graphlike({{0}, {0}, {0}, {0, 0}}, 1, Bytes{1, 1, 1, 0}).graphlike);
    // Repeats cancel in pairs: qubit 0 lies in checks 1 and 2 only.
    const GraphlikeSolve s = solve_gf2_graphlike({{0, 0}, {0}, {0, 0, 0}}, 1, Bytes{0, 1, 1});
    EXPECT_TRUE(s.graphlike);
    EXPECT_EQ(s.x, Bytes{1});
}

// A ring of a million checks: the dense rows would need 125 GB.
TEST(GraphlikeGf2, LongRingInLinearMemory) {
    const size_t n = 1000000;
    CheckList ring(n);
    for (uint32_t c = 0; c < n; ++c) ring[c] = {c, static_cast<uint32_t>((c + 1) % n)};
    Bytes syndrome(n, 0);
    syndrome[5] = syndrome[100] = syndrome[777777] = 1;
    EXPECT_FALSE(solve_gf2(ring, n, syndrome).has_value());
    syndrome[777777] = 0;
    const auto x = solve_gf2(ring, n, syndrome);
    ASSERT_TRUE(x.has_value());
    EXPECT_TRUE(correction_satisfies(ring, n, syndrome, *x));
}

}  // namespace
}  // namespace vornex
