#include "matching/sparse/sparse_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "base/wyrand.h"
#include "matching/sparse/sparse_matching.h"
#include "matching/sparse/sparse_reference.h"

namespace vornex::sparse {
namespace {

using testing::all_pairs;
using testing::best_matching_by_dense_engine;
using testing::best_matching_by_subsets;
using testing::random_detector_graph;
using testing::RandomGraph;

std::vector<uint32_t> random_events(Wyrand& rng, uint32_t n, double chance) {
    std::vector<uint32_t> events;
    for (uint32_t v = 0; v < n; ++v)
        if (rng.next_unit() < chance) events.push_back(v);
    for (size_t i = events.size(); i > 1; --i) std::swap(events[i - 1], events[rng.next_u64() % i]);
    return events;
}

// Checks one shot against the reference weight: same solvability, same
// total, every pair a perfect pairing of the events along a shortest path,
// and the parity each pair reports equal to its path's parity.
void expect_exact(const RandomGraph& rg, const std::vector<int64_t>& d, const std::vector<uint32_t>& events,
                  const std::optional<int64_t>& reference, SparseEngine& engine) {
    const MatchingGraph g = build_matching_graph(rg.n, rg.edges).value();
    SparseMatching m;
    const Status s = engine.match(g, events, m);
    ASSERT_EQ(s.ok(), reference.has_value()) << (s.ok() ? "matched an unmatchable shot" : s.error().message);
    if (!reference) return;
    EXPECT_EQ(m.weight, *reference);
    const size_t w = size_t{rg.n} + 1;
    std::vector<int> used(rg.n, 0);
    ObsMask total = 0;
    for (const MatchedPair& p : m.pairs) {
        ASSERT_LT(p.from, rg.n);
        used[p.from] += 1;
        const size_t to = p.to == kBoundary ? rg.n : p.to;
        if (p.to != kBoundary) {
            ASSERT_LT(p.to, rg.n);
            used[p.to] += 1;
        }
        EXPECT_EQ(p.weight, d[p.from * w + to]) << p.from << "-" << to;
        EXPECT_EQ(p.observables, rg.potential[p.from] ^ rg.potential[to]);
        total ^= p.observables;
    }
    EXPECT_EQ(total, m.observables);
    for (uint32_t v = 0; v < rg.n; ++v) {
        const bool is_event = std::find(events.begin(), events.end(), v) != events.end();
        EXPECT_EQ(used[v], is_event ? 1 : 0) << "node " << v;
    }
}

TEST(SparseEngine, SmallRandomGraphsMatchTheSubsetReference) {
    Wyrand rng(17);
    SparseEngine engine;
    for (int trial = 0; trial < 4000; ++trial) {
        const uint32_t n = 1 + static_cast<uint32_t>(rng.next_u64() % 14);
        const int64_t max_weight = std::array<int64_t, 4>{0, 1, 4, 50}[rng.next_u64() % 4];
        const RandomGraph rg = random_detector_graph(rng, n, rng.next_unit() * 0.6, max_weight,
                                                     rng.next_unit() * 0.5, 1 + static_cast<uint32_t>(rng.next_u64() % 3));
        const auto d = all_pairs(rg);
        const auto events = random_events(rng, n, rng.next_unit());
        SCOPED_TRACE("trial " + std::to_string(trial));
        expect_exact(rg, d, events, best_matching_by_subsets(d, n, events), engine);
        if (::testing::Test::HasFailure()) return;
    }
}

// Larger graphs (up to 160 nodes, 70 events) against the dense engine on
// the complete distance graph; blossoms nest and shatter here.
TEST(SparseEngine, LargerRandomGraphsMatchTheDenseReference) {
    Wyrand rng(5);
    SparseEngine engine;
    for (int trial = 0; trial < 1500; ++trial) {
        const uint32_t n = 10 + static_cast<uint32_t>(rng.next_u64() % 150);
        const int64_t max_weight = std::array<int64_t, 4>{0, 1, 6, 1000}[rng.next_u64() % 4];
        const RandomGraph rg = random_detector_graph(rng, n, rng.next_unit() * 0.1, max_weight, rng.next_unit() * 0.3,
                                                     1 + static_cast<uint32_t>(rng.next_u64() % 2));
        const auto d = all_pairs(rg);
        auto events = random_events(rng, n, rng.next_unit() * 0.5);
        if (events.size() > 70) events.resize(70);
        SCOPED_TRACE("trial " + std::to_string(trial));
        expect_exact(rg, d, events, best_matching_by_dense_engine(d, n, events), engine);
        if (::testing::Test::HasFailure()) return;
    }
}

// One engine reused across graphs of different sizes, and the per-thread
// entry point, give the same matching as a fresh engine.
TEST(SparseEngine, ReuseAcrossGraphsLeavesNoState) {
    Wyrand rng(99);
    SparseEngine reused;
    for (int trial = 0; trial < 300; ++trial) {
        const uint32_t n = 2 + static_cast<uint32_t>(rng.next_u64() % 60);
        const RandomGraph rg = random_detector_graph(rng, n, 0.1, 20, 0.3, 1);
        const MatchingGraph g = build_matching_graph(rg.n, rg.edges).value();
        const auto events = random_events(rng, n, 0.3);
        SparseEngine fresh;
        SparseMatching a, b, c;
        const Status sa = fresh.match(g, events, a);
        const Status sb = reused.match(g, events, b);
        const Status sc = sparse_match(g, events, c);
        ASSERT_EQ(sa.ok(), sb.ok());
        ASSERT_EQ(sa.ok(), sc.ok());
        if (!sa.ok()) continue;
        EXPECT_EQ(a.weight, b.weight);
        EXPECT_EQ(a.observables, b.observables);
        EXPECT_EQ(a.pairs.size(), b.pairs.size());
        EXPECT_EQ(a.weight, c.weight);
    }
}

TEST(SparseEngine, RejectsBadEventListsAndRecovers) {
    const std::vector<GraphEdge> edges = {{0, 1, 3, 1, 0}, {1, 2, 3, 2, 1}, {2, kBoundary, 1, 4, 2}};
    const MatchingGraph g = build_matching_graph(4, edges).value();
    SparseEngine engine;
    SparseMatching m;
    const std::vector<NodeId> outside = {0, 4};
    EXPECT_EQ(engine.match(g, outside, m).error().message, "detection event 4 is not a node of the graph (4 nodes)");
    const std::vector<NodeId> twice = {1, 0, 1};
    EXPECT_EQ(engine.match(g, twice, m).error().message, "detection event 1 is listed twice");
    // Node 3 has no edges: alone it cannot be matched.
    const std::vector<NodeId> lonely = {3};
    EXPECT_EQ(engine.match(g, lonely, m).error().message,
              "no perfect matching: detection event 3 lies in a part of the graph with an odd number of events and no boundary");
    const std::vector<NodeId> good = {0};
    ASSERT_TRUE(engine.match(g, good, m).ok());
    EXPECT_EQ(m.weight, 7);
    EXPECT_EQ(m.observables, ObsMask{7});
    ASSERT_EQ(m.pairs.size(), 1u);
    EXPECT_EQ(m.pairs[0].to, kBoundary);
    const std::vector<NodeId> none;
    ASSERT_TRUE(engine.match(g, none, m).ok());
    EXPECT_TRUE(m.pairs.empty());
    EXPECT_EQ(m.weight, 0);
}

}  // namespace
}  // namespace vornex::sparse
