#include "matching/dense/mwpm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "base/wyrand.h"
#include "matching/matching_reference.h"

namespace vornex {
namespace {

using testing::best_transformed_weight;
using testing::random_graph;
using testing::transformed_weight;
using Partner = std::vector<int64_t>;

void expect_valid(size_t n, const Partner& p) {
    ASSERT_EQ(p.size(), n);
    for (size_t i = 0; i < n; ++i) {
        if (p[i] < 0) {
            ASSERT_EQ(p[i], -1);
            continue;
        }
        ASSERT_LT(static_cast<size_t>(p[i]), n);
        ASSERT_NE(static_cast<size_t>(p[i]), i);
        ASSERT_EQ(p[static_cast<size_t>(p[i])], static_cast<int64_t>(i));
    }
}

TEST(Mwpm, EmptyInputsLeaveEveryVertexFree) {
    EXPECT_TRUE(mwpm_match(0, {}).empty());
    EXPECT_EQ(mwpm_match(3, {}), Partner({-1, -1, -1}));
    const std::vector<MatchingEdge> loops = {{1, 1, 5}, {0, 0, 0}};
    EXPECT_EQ(mwpm_match(2, loops), Partner({-1, -1}));
    // An endpoint beyond n breaks the caller's contract; it is dropped, not read.
    const std::vector<MatchingEdge> outside = {{0, 7, 1}};
    EXPECT_EQ(mwpm_match(2, outside), Partner({-1, -1}));
}

TEST(Mwpm, SmallWorkedGraphs) {
    const std::vector<MatchingEdge> one = {{0, 1, 3}};
    EXPECT_EQ(mwpm_match(2, one), Partner({1, 0}));
    const std::vector<MatchingEdge> path = {{0, 1, 1}, {1, 2, 100}, {2, 3, 1}};
    EXPECT_EQ(mwpm_match(4, path), Partner({1, 0, 3, 2}));
    // The later of two parallel edges decides their weight: with 0-1 made
    // heavy, 1-2 + 0-3 is the cheaper perfect matching.
    const std::vector<MatchingEdge> dup = {{0, 1, 1}, {2, 3, 1}, {1, 2, 1}, {0, 3, 1}, {1, 0, 50}};
    EXPECT_EQ(mwpm_match(4, dup), Partner({3, 2, 1, 0}));
}

// A triangle with a pendant vertex forces a blossom on the odd cycle, which
// must be expanded again to reach the pendant's perfect matching.
TEST(Mwpm, OddCycleWithPendantIsMatchedPerfectly) {
    const std::vector<MatchingEdge> edges = {{0, 1, 1}, {1, 2, 1}, {2, 0, 1}, {2, 3, 5}};
    const Partner p = mwpm_match(4, edges);
    expect_valid(4, p);
    EXPECT_EQ(p[3], 2);
    EXPECT_EQ(p[0], 1);
    // Two triangles joined by a heavy bridge, in both vertex numberings.
    const std::vector<MatchingEdge> pair = {{0, 1, 2}, {1, 2, 2}, {2, 0, 2}, {3, 4, 2},
                                            {4, 5, 2}, {5, 3, 2}, {2, 3, 9}};
    const Partner q = mwpm_match(6, pair);
    expect_valid(6, q);
    EXPECT_EQ(transformed_weight(6, pair, q), best_transformed_weight(6, pair));
    EXPECT_EQ(q[2], 3);
}

TEST(Mwpm, HugeWeightsAreClampedInsteadOfOverflowing) {
    const int64_t big = std::numeric_limits<int64_t>::max();
    const std::vector<MatchingEdge> edges = {{0, 1, big}, {1, 2, 0}, {2, 3, big}, {0, 3, std::numeric_limits<int64_t>::min()}};
    const Partner p = mwpm_match(4, edges);
    expect_valid(4, p);
    EXPECT_EQ(p, Partner({3, 2, 1, 0}));
}

struct Shape {
    size_t max_n;
    double density;
    int64_t max_weight;
    int trials;
};

// The engine against an exhaustive search over all matchings, on graphs
// that exercise blossoms: odd cycles, dense and sparse edge sets, repeated
// edges, self-loops, zero and equal weights.
TEST(Mwpm, AgreesWithExhaustiveSearchOnRandomGraphs) {
    const Shape shapes[] = {
        {6, 0.9, 3, 1500},     // tiny, dense, many equal weights
        {10, 0.5, 10, 1500},   // medium density
        {12, 0.25, 1000, 1000},  // sparse with distinct weights
        {14, 0.7, 1, 300},     // unit weights: cardinality only
        {13, 1.0, 0, 200},     // complete, all weights zero
    };
    Wyrand rng(0xB10550);
    size_t checked = 0;
    for (const Shape& s : shapes) {
        for (int t = 0; t < s.trials; ++t) {
            const size_t n = rng.next_u64() % (s.max_n + 1);
            const auto edges = random_graph(rng, n, s.density, s.max_weight);
            const Partner p = mwpm_match(n, edges);
            expect_valid(n, p);
            ASSERT_EQ(transformed_weight(n, edges, p), best_transformed_weight(n, edges))
                << "n=" << n << " trial " << t << " edges " << edges.size();
            ++checked;
        }
    }
    EXPECT_EQ(checked, 4500u);
}

// The per-thread workspace only grows: alternating large and small graphs on
// one thread, and the same graphs on fresh threads, give identical partners.
TEST(Mwpm, ReusedWorkspaceMatchesFreshThreads) {
    Wyrand rng(77);
    std::vector<std::pair<size_t, std::vector<MatchingEdge>>> graphs;
    for (int i = 0; i < 40; ++i) {
        const size_t n = (i % 2 == 0) ? 40 + rng.next_u64() % 30 : rng.next_u64() % 8;
        graphs.emplace_back(n, random_graph(rng, n, 0.3, 50));
    }
    std::vector<Partner> here;
    for (const auto& [n, e] : graphs) here.push_back(mwpm_match(n, e));
    for (size_t i = 0; i < graphs.size(); ++i) {
        Partner fresh;
        std::thread([&] { fresh = mwpm_match(graphs[i].first, graphs[i].second); }).join();
        ASSERT_EQ(fresh, here[i]) << i;
    }
}

}  // namespace
}  // namespace vornex
