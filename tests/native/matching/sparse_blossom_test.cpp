#include "matching/sparse_blossom.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "base/wyrand.h"
#include "code/generators.h"
#include "matching/matching_codes.h"

namespace vornex {
namespace {

using namespace testing;
using Bytes = std::vector<uint8_t>;
using Weights = std::vector<std::pair<uint32_t, double>>;

Bytes run(const SparseBlossomDecoder& d, const Bytes& s) {
    auto r = d.decode(s);
    EXPECT_TRUE(r.ok());
    return r.ok() ? r.value() : Bytes{};
}

TEST(SparseBlossomCosts, WeightToCostRules) {
    EXPECT_EQ(sparse_edge_cost(0.01), 100000u);
    EXPECT_EQ(sparse_edge_cost(0.005), 100000u);
    EXPECT_EQ(sparse_edge_cost(1e-300), 100000u);
    EXPECT_EQ(sparse_edge_cost(2000), 1u);  // floor(0.5) = 0 becomes 1
    EXPECT_EQ(sparse_edge_cost(4), 250u);
    EXPECT_EQ(sparse_edge_cost(1), 1000u);
    EXPECT_EQ(sparse_edge_cost(0), 100000u);
    EXPECT_EQ(sparse_edge_cost(-3), 100000u);
    EXPECT_EQ(sparse_edge_cost(std::nan("")), 100000u);
    EXPECT_EQ(sparse_edge_cost(INFINITY), 1u);
}

TEST(SparseBlossomBuild, NeighboursAndBoundaryChecks) {
    // Qubit 5 is outside n_qubits but still joins checks 0 and 2; qubit 0
    // sits in check 0 alone, qubit 3 twice in check 1 alone.
    const auto d = SparseBlossomDecoder::create({{0, 1, 5}, {1, 3, 3}, {5, 2}}, 4).value();
    EXPECT_EQ(d.n_qubits(), 4u);
    EXPECT_EQ(d.n_checks(), 3u);
    ASSERT_EQ(d.neighbours_of(0).size(), 2u);
    EXPECT_EQ(d.neighbours_of(0)[0].check, 1u);
    EXPECT_EQ(d.neighbours_of(0)[0].qubit, 1u);
    EXPECT_EQ(d.neighbours_of(0)[1].check, 2u);
    EXPECT_EQ(d.neighbours_of(0)[1].qubit, 5u);
    EXPECT_EQ(d.neighbours_of(1).size(), 3u);  // check 0, and itself twice through qubit 3
    EXPECT_TRUE(d.is_boundary_check(0));
    EXPECT_TRUE(d.is_boundary_check(1));
    EXPECT_TRUE(d.is_boundary_check(2));  // qubit 2
    EXPECT_EQ(SparseBlossomDecoder::create({{4, 2}}, std::nullopt).value().n_qubits(), 5u);
}

// Every correction reproduces its syndrome whenever some correction does,
// with unit costs and with random overrides, on codes with and without a
// boundary and with hyperedges.
TEST(SparseBlossomDecode, CorrectionsReproduceReachableSyndromes) {
    Wyrand rng(31);
    std::vector<std::pair<CheckList, size_t>> codes;
    codes.emplace_back(rotated_sector_left_right(5), 25);
    codes.emplace_back(rotated_sector_left_right(9), 81);
    const auto ring = generate_ring_code(4).value();
    codes.emplace_back(ring.checks, ring.n_qubits);
    const auto surf = generate_surface_code(3).value();
    codes.emplace_back(surf.checks, surf.n_qubits);
    for (const auto& [checks, nq] : codes) {
        auto d = SparseBlossomDecoder::create(checks, nq).value();
        for (int t = 0; t < 300; ++t) {
            const Bytes s = syndrome_of(checks, random_error(rng, nq, 0.25 * rng.next_unit()));
            const Bytes c = run(d, s);
            ASSERT_TRUE(correction_satisfies(checks, nq, s, c)) << t;
            Weights w;
            for (size_t q = 0; q < nq; ++q)
                if (rng.next_u64() % 3 == 0) w.emplace_back(static_cast<uint32_t>(q), 0.001 + 10 * rng.next_unit());
            const auto cw = d.decode_with_weights(s, w);
            ASSERT_TRUE(cw.ok());
            ASSERT_TRUE(correction_satisfies(checks, nq, s, cw.value())) << t;
        }
    }
}

TEST(SparseBlossomDecode, SmallCases) {
    const CheckList rep = {{0, 1}, {1, 2}, {2, 3}};
    auto d = SparseBlossomDecoder::create(rep, std::nullopt).value();
    EXPECT_EQ(run(d, {0, 0, 0}), Bytes(4, 0));
    // A single defect goes to the boundary vertex, flips nothing and is
    // handed to the weighted decoder.
    EXPECT_EQ(run(d, {0, 1, 0}), blossom_decode(d.inner_blossom(), Bytes{0, 1, 0}).value());
    // Two adjacent defects of a ring: the shared qubit, or the fallback;
    // either way the syndrome is reproduced.
    const auto ring = generate_ring_code(2).value();
    auto r = SparseBlossomDecoder::create(ring.checks, ring.n_qubits).value();
    const Bytes s = {0, 1, 1, 0};
    EXPECT_TRUE(correction_satisfies(ring.checks, 4, s, run(r, s)));
    // Overrides are scoped to one call: an empty list is a plain decode,
    // and a plain decode afterwards sees unit costs again.
    const Bytes before = run(d, {1, 0, 1});
    EXPECT_EQ(d.decode_with_weights(Bytes{1, 0, 1}, {}).value(), before);
    EXPECT_TRUE(d.decode_with_weights(Bytes{1, 0, 1}, Weights{{1, 0.001}, {1, 5.0}, {2, -1}}).ok());
    EXPECT_EQ(run(d, {1, 0, 1}), before);
    const auto bad = d.decode(Bytes{1});
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().kind, ErrorKind::Panic);
}

// The binding checks lengths first (for decode and decode_with_weights
// alike) and raises this text.
TEST(SparseBlossomDecode, LengthTextIsExact) {
    const auto d = SparseBlossomDecoder::create({{0, 1}, {1, 2}}, std::nullopt).value();
    EXPECT_TRUE(d.check_syndrome_length(2).ok());
    for (const size_t length : {1, 3}) {
        const auto status = d.check_syndrome_length(length);
        ASSERT_FALSE(status.ok());
        EXPECT_EQ(status.error().kind, ErrorKind::Value);
        EXPECT_EQ(status.error().message, "Syndrome length mismatch: " + std::to_string(length) + " != 2");
    }
}

// Qubits the weighted decode may flip: those in two checks, and each check's
// boundary qubit; their costs under the given weights.
std::vector<uint64_t> usable_costs(const SparseBlossomDecoder& d, const CheckList& checks, size_t nq,
                                   const std::vector<double>& weights) {
    constexpr uint64_t kUnusable = UINT64_MAX;
    std::vector<int> count(nq, 0);
    for (const auto& c : checks)
        for (uint32_t q : c) ++count[q];
    std::vector<uint64_t> cost(nq, kUnusable);
    for (size_t q = 0; q < nq; ++q)
        if (count[q] == 2) cost[q] = sparse_edge_cost(weights[q]);
    for (size_t c = 0; c < checks.size(); ++c)
        if (d.boundary_qubit(c) != kNoIndex) cost[d.boundary_qubit(c)] = sparse_edge_cost(weights[d.boundary_qubit(c)]);
    return cost;
}

// With a weight on every qubit, the weighted decode finds a cheapest
// correction: checked against every error of small codes with and without
// a boundary, many defects leaving through the boundary at once.
TEST(SparseBlossomWeighted, CheapestCorrectionAgainstEveryError) {
    std::vector<std::pair<CheckList, size_t>> codes;
    codes.push_back({{{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}}, 7});
    codes.emplace_back(rotated_sector_left_right(3), 9);
    codes.push_back({{{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 0}}, 5});  // a cycle: no boundary
    codes.push_back({{{0, 1, 2}, {2, 3, 4}, {4, 5, 0}, {1, 3, 6}, {5, 7}}, 8});
    Wyrand rng(17);
    for (const auto& [checks, nq] : codes) {
        auto d = SparseBlossomDecoder::create(checks, nq).value();
        for (int round = 0; round < 20; ++round) {
            std::vector<double> weights(nq);
            Weights pairs;
            for (size_t q = 0; q < nq; ++q) {
                weights[q] = 0.02 + 60 * rng.next_unit() * rng.next_unit();
                pairs.emplace_back(static_cast<uint32_t>(q), weights[q]);
            }
            const auto cost = usable_costs(d, checks, nq, weights);
            std::map<Bytes, uint64_t> cheapest;
            for (uint64_t mask = 0; mask < (uint64_t{1} << nq); ++mask) {
                Bytes e(nq);
                uint64_t total = 0;
                for (size_t q = 0; q < nq && total != UINT64_MAX; ++q)
                    if ((e[q] = (mask >> q) & 1)) total = cost[q] == UINT64_MAX ? UINT64_MAX : total + cost[q];
                if (total == UINT64_MAX) continue;
                auto [it, fresh] = cheapest.emplace(syndrome_of(checks, e), total);
                if (!fresh) it->second = std::min(it->second, total);
            }
            for (const auto& [syndrome, best] : cheapest) {
                const Bytes c = d.decode_with_weights(syndrome, pairs).value();
                ASSERT_TRUE(correction_satisfies(checks, nq, syndrome, c));
                uint64_t total = 0;
                for (size_t q = 0; q < nq; ++q)
                    if (c[q]) total += cost[q];
                ASSERT_EQ(total, best) << round;
            }
        }
    }
}

// Without a weight of its own, a boundary qubit costs its check's cheapest
// edge along the boundary (else its cheapest edge): the exit is on the scale
// of the weighted paths. Costly edges on the left send a defect out on the
// right; two defects leave through both ends at once.
TEST(SparseBlossomWeighted, ExitsWithoutTheirOwnWeight) {
    const CheckList rep = {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}};
    auto d = SparseBlossomDecoder::create(rep, 6).value();
    EXPECT_EQ(d.boundary_qubit(0), 0u);
    EXPECT_EQ(d.boundary_qubit(4), 5u);
    EXPECT_EQ(d.boundary_qubit(2), kNoIndex);
    const Weights right_cheap = {{1, 0.01}, {2, 100}, {3, 100}, {4, 100}};
    EXPECT_EQ(d.decode_with_weights(Bytes{0, 1, 0, 0, 0}, right_cheap).value(), (Bytes{0, 0, 1, 1, 1, 1}));
    EXPECT_EQ(run(d, {0, 1, 0, 0, 0}), (Bytes{1, 1, 0, 0, 0, 0}));
    const Weights even = {{1, 1.0}, {2, 1.0}, {3, 1.0}, {4, 1.0}};
    EXPECT_EQ(d.decode_with_weights(Bytes{1, 0, 0, 0, 1}, even).value(), (Bytes{1, 0, 0, 0, 0, 1}));
    // A cheap middle joins the two defects instead.
    const Weights middle = {{1, 100}, {2, 100}, {3, 100}, {4, 100}};
    EXPECT_EQ(d.decode_with_weights(Bytes{1, 0, 0, 0, 1}, Weights{{0, 0.5}, {5, 0.5}, {1, 100}, {2, 100}, {3, 100}, {4, 100}}).value(),
              (Bytes{0, 1, 1, 1, 1, 0}));
    EXPECT_EQ(d.decode_with_weights(Bytes{1, 0, 0, 0, 1}, middle).value(), (Bytes{1, 0, 0, 0, 0, 1}));
}

TEST(SparseBlossomDecode, BatchRowsEqualSingleDecodes) {
    const CheckList checks = rotated_sector_left_right(7);
    const auto d = SparseBlossomDecoder::create(checks, 49).value();
    Wyrand rng(8);
    const size_t shots = 200, nc = checks.size();
    Bytes in(shots * nc);
    for (size_t r = 0; r < shots; ++r) {
        const Bytes s = syndrome_of(checks, random_error(rng, 49, 0.2 * rng.next_unit()));
        std::copy(s.begin(), s.end(), in.begin() + r * nc);
    }
    Bytes out(shots * 49, 0xAA);
    d.batch_decode(in.data(), shots, out.data());
    for (size_t r = 0; r < shots; ++r)
        ASSERT_EQ(Bytes(out.begin() + r * 49, out.begin() + (r + 1) * 49),
                  run(d, Bytes(in.begin() + r * nc, in.begin() + (r + 1) * nc)))
            << r;
}

}  // namespace
}  // namespace vornex
