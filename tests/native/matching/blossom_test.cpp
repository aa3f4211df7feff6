#include "matching/blossom.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <thread>

#include "base/wyrand.h"
#include "code/generators.h"
#include "matching/matching_codes.h"

namespace vornex {
namespace {

using testing::min_correction_weight;
using testing::random_error;
using testing::rotated_sector_left_right;
using testing::syndrome_of;
using testing::weight_of;
using Bytes = std::vector<uint8_t>;

Bytes run(const BlossomGraph& g, const Bytes& syndrome) {
    auto r = blossom_decode(g, syndrome);
    EXPECT_TRUE(r.ok());
    return r.ok() ? r.value() : Bytes{};
}

bool satisfies(const BlossomGraph& g, const Bytes& s, const Bytes& c) {
    return correction_satisfies(g.check_to_qubits, g.n_qubits, s, c);
}

TEST(BlossomBuild, AdjacencyEdgesAndBoundary) {
    // Qubit 0 only in check 0 (weight 3) and qubit 4 only in check 0 (weight 2):
    // the lighter one is the boundary qubit. Qubit 1 lies in three checks.
    const CheckList checks = {{0, 1, 2, 4}, {1, 2}, {1, 3}};
    const auto g = build_blossom_graph(checks, std::nullopt, std::vector<double>{3, 1, 1, 5});
    EXPECT_EQ(g.n_qubits, 5u);
    EXPECT_EQ(g.weights, (std::vector<double>{3, 1, 1, 5, 1}));  // padded with 1.0
    const std::vector<std::pair<uint32_t, uint32_t>> edges = {{0, 1}, {0, 2}, {1, 2}, {0, 1}};
    EXPECT_EQ(g.edges, edges);
    EXPECT_FALSE(g.uf_fallback.has_value());  // qubit 1 is a hyperedge
    EXPECT_FALSE(g.uniform_weights);
    EXPECT_TRUE(g.has_boundary);
    const auto bnd = g.arcs_of(g.boundary_node());
    ASSERT_EQ(bnd.size(), 2u);
    EXPECT_EQ(bnd[0].node, 0u);
    EXPECT_EQ(bnd[0].qubit, 4u);
    EXPECT_EQ(bnd[0].weight, 1.0);
    EXPECT_EQ(bnd[1].node, 2u);
    EXPECT_EQ(bnd[1].qubit, 3u);
    // No qubit index at all still gives one qubit.
    EXPECT_EQ(build_blossom_graph({}, std::nullopt, std::nullopt).n_qubits, 1u);
    // Indices at or above a given n_qubits are ignored.
    const auto small = build_blossom_graph({{0, 9}}, 1, std::nullopt);
    EXPECT_TRUE(small.edges.empty());
    EXPECT_EQ(small.arcs_of(0).size(), 1u);
}

TEST(BlossomBuild, NeighbourMultiplierFromEnvironment) {
    const auto k_for = [](const char* value, size_t defects) {
        if (value) {
            setenv("VORNEX_BLOSSOM_K_MULT", value, 1);
        } else {
            unsetenv("VORNEX_BLOSSOM_K_MULT");
        }
        const auto g = build_blossom_graph({{0, 1}}, std::nullopt, std::nullopt);
        return blossom_neighbour_count(g, defects);
    };
    EXPECT_EQ(k_for(nullptr, 100), 20u);  // ceil(10 * 2.0)
    EXPECT_EQ(k_for("3.5", 100), 35u);
    for (const char* bad : {"0", "-1", "abc", "", " 3", "3x", "nan"}) EXPECT_EQ(k_for(bad, 100), 20u) << bad;
    EXPECT_EQ(k_for("inf", 100), 99u);  // saturates, then capped by the other defects
    EXPECT_EQ(k_for("3.5", 40), 12u);   // growth only past 40 defects
    EXPECT_EQ(k_for("3.5", 5), 4u);
    EXPECT_EQ(k_for("3.5", 1), 1u);
    unsetenv("VORNEX_BLOSSOM_K_MULT");
}

TEST(BlossomDecode, RepetitionCodeExamples) {
    const auto g = build_blossom_graph({{0, 1}, {1, 2}, {2, 3}}, std::nullopt, std::nullopt);
    EXPECT_EQ(run(g, {0, 0, 0}), Bytes({0, 0, 0, 0}));
    EXPECT_EQ(run(g, {1, 0, 0}), Bytes({1, 0, 0, 0}));  // single defect to the boundary
    EXPECT_EQ(run(g, {0, 1, 1}), Bytes({0, 0, 1, 0}));
    // Through the middle or out to both boundaries cost the same; only a
    // strictly shorter boundary route replaces the path.
    EXPECT_EQ(run(g, {1, 0, 1}), Bytes({0, 1, 1, 0}));
    const auto heavy = build_blossom_graph({{0, 1}, {1, 2}, {2, 3}}, std::nullopt, std::vector<double>{1, 2, 2, 1});
    EXPECT_EQ(run(heavy, {1, 0, 1}), Bytes({1, 0, 0, 1}));
    const auto len = blossom_decode(g, Bytes{1, 0});
    ASSERT_FALSE(len.ok());
    EXPECT_EQ(len.error().kind, ErrorKind::Panic);
    EXPECT_NE(len.error().message.find("La longueur du syndrome doit correspondre au nombre de checks"),
              std::string::npos);
}

// The texts the binding raises for a syndrome of the wrong length and a
// batch of the wrong shape.
TEST(BlossomDecode, LengthAndShapeTextsAreExact) {
    const BlossomDecoder dec(build_blossom_graph({{0, 1}, {1, 2}}, std::nullopt, std::nullopt));
    EXPECT_TRUE(dec.check_syndrome_length(2).ok());
    const auto length = dec.check_syndrome_length(3);
    ASSERT_FALSE(length.ok());
    EXPECT_EQ(length.error().kind, ErrorKind::Value);
    EXPECT_EQ(length.error().message, "Longueur du syndrome (3) ne correspond pas à n_checks (2)");
    const std::vector<size_t> rows{2, 3}, flat{2}, good{5, 2};
    EXPECT_TRUE(dec.check_batch_shape(good).ok());
    EXPECT_EQ(dec.check_batch_shape(rows).error().message, "Forme attendue (batch, 2), obtenue [2, 3]");
    EXPECT_EQ(dec.check_batch_shape(flat).error().message, "Forme attendue (batch, 2), obtenue [2]");
}

// Without a boundary, one defect cannot be explained; two adjacent ones can.
TEST(BlossomDecode, RingCodeFallsBackAndStaysConsistent) {
    const auto ring = generate_ring_code(3).value();
    const auto g = build_blossom_graph(ring.checks, ring.n_qubits, std::nullopt);
    EXPECT_FALSE(g.has_boundary);
    Bytes one(9, 0);
    one[4] = 1;
    EXPECT_EQ(run(g, one), Bytes(9, 0));  // inconsistent: nothing can be done
    Bytes two(9, 0);
    two[0] = two[5] = 1;
    const Bytes c = run(g, two);
    EXPECT_TRUE(satisfies(g, two, c));
    EXPECT_EQ(weight_of(c, g.weights), 4.0);  // the shorter way round the ring
}

// The periodic layout has weight-4 checks and every qubit in eight of them:
// no Union-Find fallback, so any failed matching goes to the GF(2) solve.
TEST(BlossomDecode, HyperedgeLayoutAlwaysReproducesReachableSyndromes) {
    const auto code = generate_surface_code(4).value();
    const auto g = build_blossom_graph(code.checks, code.n_qubits, std::nullopt);
    EXPECT_FALSE(g.uf_fallback.has_value());
    Wyrand rng(4);
    for (int t = 0; t < 300; ++t) {
        const Bytes s = syndrome_of(code.checks, random_error(rng, code.n_qubits, 0.15));
        ASSERT_TRUE(satisfies(g, s, run(g, s))) << t;
    }
}

// Minimum total weight for up to 12 defects, where every defect sees all
// others, on rotated sectors with unit and random positive weights.
TEST(BlossomDecode, OptimalForFewDefects) {
    Wyrand rng(0x5EC7);
    for (uint32_t d : {3u, 5u, 7u, 9u}) {
        const CheckList checks = rotated_sector_left_right(d);
        const size_t nq = size_t{d} * d;
        for (bool weighted : {false, true}) {
            std::vector<double> w(nq, 1.0);
            if (weighted)
                for (auto& x : w) x = 0.05 + 2.0 * rng.next_unit();
            const auto g = build_blossom_graph(checks, nq, w);
            int tested = 0;
            for (int t = 0; t < 400; ++t) {
                const Bytes s = syndrome_of(checks, random_error(rng, nq, 0.02 + 0.1 * rng.next_unit()));
                size_t defects = 0;
                for (auto b : s) defects += b;
                if (defects > 12) continue;
                const Bytes c = run(g, s);
                ASSERT_TRUE(satisfies(g, s, c)) << d << " " << t;
                ASSERT_NEAR(weight_of(c, w), min_correction_weight(checks, nq, w, s), 1e-4) << d << " " << t;
                ++tested;
            }
            EXPECT_GT(tested, 200);
        }
    }
}

// Decodes through the precomputed trees must equal the live truncated
// searches byte for byte, with few and with many defects (truncation and
// the parallel searches above 40 defects), uniform and weighted.
TEST(BlossomDecode, PrecomputedTreesEqualLiveSearches) {
    Wyrand rng(99);
    for (uint32_t d : {5u, 11u, 21u}) {
        const CheckList checks = rotated_sector_left_right(d);
        const size_t nq = size_t{d} * d;
        for (bool weighted : {false, true}) {
            std::optional<std::vector<double>> w;
            if (weighted) {
                w.emplace(nq);
                for (auto& x : *w) x = 0.1 + rng.next_unit();
            }
            const auto fast = build_blossom_graph(checks, nq, w);
            const auto live = build_blossom_graph(checks, nq, w, 0);
            ASSERT_TRUE(fast.trees.has_value());
            ASSERT_FALSE(live.trees.has_value());
            for (double p : {0.03, 0.2, 0.5}) {
                for (int t = 0; t < 60; ++t) {
                    const Bytes s = syndrome_of(checks, random_error(rng, nq, p));
                    ASSERT_EQ(run(fast, s), run(live, s)) << d << " " << p << " " << t;
                }
            }
        }
    }
}

TEST(BlossomDecode, BatchRowsEqualSingleDecodes) {
    const CheckList checks = rotated_sector_left_right(9);
    const auto g = build_blossom_graph(checks, 81, std::nullopt);
    Wyrand rng(12);
    const size_t shots = 300;
    Bytes in(shots * checks.size());
    for (size_t r = 0; r < shots; ++r) {
        const Bytes s = syndrome_of(checks, random_error(rng, 81, 0.3 * rng.next_unit()));
        std::copy(s.begin(), s.end(), in.begin() + r * checks.size());
    }
    Bytes out(shots * 81, 0xAA);
    blossom_decode_batch(g, in.data(), shots, out.data());
    for (size_t r = 0; r < shots; ++r) {
        const Bytes s(in.begin() + r * checks.size(), in.begin() + (r + 1) * checks.size());
        ASSERT_EQ(Bytes(out.begin() + r * 81, out.begin() + (r + 1) * 81), run(g, s)) << r;
    }
}

// Disconnected pieces, unreachable boundaries and odd weights must never
// hang or break the tree walks: the result is always a full correction.
TEST(BlossomDecode, OddWeightsAndDisconnectedPieces) {
    const CheckList checks = {{0, 1}, {1, 2}, {3, 4}, {4, 5}, {6, 7}, {7, 6}};
    for (const std::vector<double>& w : {std::vector<double>{1, -2, 1, 1, -5, 1, 1, 1},
                                         std::vector<double>{0, 0, 0, 1e300, 1e300, 1, 1, 1},
                                         std::vector<double>{1, std::nan(""), 1, 1, 1, 1, 1, 1}}) {
        const auto g = build_blossom_graph(checks, std::nullopt, w);
        for (uint32_t bits = 0; bits < 64; ++bits) {
            Bytes s(6);
            for (size_t c = 0; c < 6; ++c) s[c] = bits >> c & 1;
            const Bytes c = run(g, s);
            ASSERT_EQ(c.size(), 8u);
            const bool solvable = (s[4] ^ s[5]) == 0;  // the two-check ring has no boundary
            if (solvable) {
                ASSERT_TRUE(satisfies(g, s, c)) << bits;
            }
        }
    }
}

}  // namespace
}  // namespace vornex
