#include "code/rotated_surface.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "code/rotated_sector.h"

namespace vornex {
namespace {

RotatedSurfaceCode code_of(uint32_t d) {
    auto code = generate_rotated_surface_code(d);
    EXPECT_TRUE(code.ok());
    return code.value();
}

// Parity of the number of qubits two operators share.
bool overlap_is_odd(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    size_t shared = 0;
    for (uint32_t q : a) shared += std::count(b.begin(), b.end(), q);
    return shared % 2 == 1;
}

// Rank over GF(2) of checks given as qubit lists.
size_t gf2_rank(const CheckList& checks, uint32_t n_qubits) {
    const size_t words = (n_qubits + 63) / 64;
    std::vector<std::vector<uint64_t>> rows;
    for (const auto& check : checks) {
        std::vector<uint64_t> row(words, 0);
        for (uint32_t q : check) row[q / 64] ^= uint64_t{1} << (q % 64);
        rows.push_back(row);
    }
    size_t rank = 0;
    for (uint32_t col = 0; col < n_qubits && rank < rows.size(); ++col) {
        const uint64_t bit = uint64_t{1} << (col % 64);
        auto pivot = std::find_if(rows.begin() + rank, rows.end(), [&](const auto& r) { return r[col / 64] & bit; });
        if (pivot == rows.end()) continue;
        std::swap(*pivot, rows[rank]);
        for (size_t i = 0; i < rows.size(); ++i)
            if (i != rank && (rows[i][col / 64] & bit))
                for (size_t w = 0; w < words; ++w) rows[i][w] ^= rows[rank][w];
        ++rank;
    }
    return rank;
}

// Whether some pattern of fewer than `limit` flips is seen by no check but
// by the logical operator. Syndrome and logical parity share one word.
bool undetected_logical_below(const CheckList& checks, const std::vector<uint32_t>& logical, uint32_t n_qubits,
                              uint32_t limit) {
    std::vector<uint64_t> effect(n_qubits, 0);
    for (size_t c = 0; c < checks.size(); ++c)
        for (uint32_t q : checks[c]) effect[q] ^= uint64_t{1} << c;
    const uint64_t logical_bit = uint64_t{1} << checks.size();
    for (uint32_t q : logical) effect[q] ^= logical_bit;
    auto search = [&](auto& self, uint32_t first, uint32_t weight, uint64_t state) -> bool {
        if (state == logical_bit) return true;
        if (weight + 1 >= limit) return false;
        for (uint32_t q = first; q < n_qubits; ++q)
            if (self(self, q + 1, weight + 1, state ^ effect[q])) return true;
        return false;
    };
    return search(search, 0, 0, 0);
}

TEST(RotatedSurfaceCode, LayoutOfDistanceThree) {
    const auto code = code_of(3);
    EXPECT_EQ(code.n_qubits, 9u);
    EXPECT_EQ(code.z_checks, (CheckList{{1, 2}, {0, 1, 3, 4}, {4, 5, 7, 8}, {6, 7}}));
    EXPECT_EQ(code.x_checks, (CheckList{{0, 3}, {1, 2, 4, 5}, {3, 4, 6, 7}, {5, 8}}));
    EXPECT_EQ(code.z_logical, (std::vector<uint32_t>{0, 3, 6}));
    EXPECT_EQ(code.x_logical, (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_EQ(rotated_sector_top_bottom(3), code.z_checks);
}

TEST(RotatedSurfaceCode, ChecksCommuteAndEncodeOneQubit) {
    for (uint32_t d = 1; d <= 14; ++d) {
        SCOPED_TRACE(d);
        const auto code = code_of(d);
        for (const auto& x : code.x_checks)
            for (const auto& z : code.z_checks) ASSERT_FALSE(overlap_is_odd(x, z));
        // Independent checks, n - 1 of them: exactly one logical qubit.
        EXPECT_EQ(code.x_checks.size() + code.z_checks.size(), size_t{d} * d - 1);
        EXPECT_EQ(gf2_rank(code.x_checks, code.n_qubits) + gf2_rank(code.z_checks, code.n_qubits),
                  size_t{d} * d - 1);
        for (const CheckList* checks : {&code.x_checks, &code.z_checks}) {
            std::vector<int> slots(code.n_qubits, 0);
            for (const auto& check : *checks) {
                ASSERT_TRUE(check.size() == 2 || check.size() == 4);
                for (uint32_t q : check) ++slots[q];
            }
            if (d > 1) {
                for (int s : slots) EXPECT_TRUE(s == 1 || s == 2);
            }
        }
    }
}

TEST(RotatedSurfaceCode, LogicalsCommuteWithChecksAndAnticommute) {
    for (uint32_t d = 1; d <= 14; ++d) {
        SCOPED_TRACE(d);
        const auto code = code_of(d);
        for (const auto& x : code.x_checks) EXPECT_FALSE(overlap_is_odd(x, code.z_logical));
        for (const auto& z : code.z_checks) EXPECT_FALSE(overlap_is_odd(z, code.x_logical));
        EXPECT_TRUE(overlap_is_odd(code.z_logical, code.x_logical));
        EXPECT_EQ(code.z_logical.size(), d);
        EXPECT_EQ(code.x_logical.size(), d);
    }
}

TEST(RotatedSurfaceCode, DistanceIsDExhaustively) {
    for (uint32_t d = 2; d <= 7; ++d) {
        SCOPED_TRACE(d);
        const auto code = code_of(d);
        // No pattern of fewer than d flips is an undetected logical error of
        // either type; the logical operators (weight d) are undetected ones.
        EXPECT_FALSE(undetected_logical_below(code.z_checks, code.z_logical, code.n_qubits, d));
        EXPECT_FALSE(undetected_logical_below(code.x_checks, code.x_logical, code.n_qubits, d));
        if (d > 5) continue;  // the search itself finds the weight-d ones
        EXPECT_TRUE(undetected_logical_below(code.z_checks, code.z_logical, code.n_qubits, d + 1));
        EXPECT_TRUE(undetected_logical_below(code.x_checks, code.x_logical, code.n_qubits, d + 1));
    }
}

TEST(RotatedSurfaceCode, DistanceOutOfRange) {
    auto zero = generate_rotated_surface_code(0);
    ASSERT_FALSE(zero.ok());
    EXPECT_EQ(zero.error().message, "distance must be >= 1");
    auto huge = generate_rotated_surface_code(65536);
    ASSERT_FALSE(huge.ok());
    EXPECT_EQ(huge.error().message, "distance must be <= 65535");
}

}  // namespace
}  // namespace vornex
