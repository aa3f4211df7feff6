#include "matching/sparse/reweighted_graph.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "base/wyrand.h"
#include "matching/sparse/sparse_engine.h"
#include "matching/sparse/sparse_reference.h"

namespace vornex::sparse {
namespace {

// A random detector graph with parallel edges and self-loops, its edges
// numbered by position.
std::vector<GraphEdge> numbered_edges(Wyrand& rng, uint32_t n) {
    auto edges = testing::random_detector_graph(rng, n, rng.next_unit() * 0.4, 30, 0.4, 1).edges;
    for (size_t k = 0; k < edges.size(); ++k) edges[k].id = static_cast<uint32_t>(k);
    return edges;
}

// Real weights with ties, zeros and, now and then, all equal.
std::vector<double> random_weights(Wyrand& rng, size_t n) {
    std::vector<double> w(n);
    const bool all_equal = rng.next_u64() % 8 == 0;
    for (double& x : w) x = all_equal ? 2.5 : (rng.next_u64() % 5 == 0 ? 0.0 : rng.next_unit() * 40.0);
    return w;
}

void expect_same_graph(const MatchingGraph& a, const MatchingGraph& b) {
    EXPECT_EQ(a.n_nodes, b.n_nodes);
    EXPECT_EQ(a.row_begin, b.row_begin);
    EXPECT_EQ(a.neighbour, b.neighbour);
    EXPECT_EQ(a.weight, b.weight);
    EXPECT_EQ(a.observables, b.observables);
    EXPECT_EQ(a.edge_id, b.edge_id);
    EXPECT_EQ(a.has_boundary, b.has_boundary);
}

// Reweighting in place gives exactly the graph built from scratch with the
// discretised weights, shot after shot, the lightest of parallel edges
// included, and so the same matchings.
TEST(ReweightedGraph, EqualsTheGraphRebuiltWithTheSameWeights) {
    Wyrand rng(31);
    SparseEngine engine;
    for (int trial = 0; trial < 300; ++trial) {
        const uint32_t n = 1 + static_cast<uint32_t>(rng.next_u64() % 40);
        std::vector<GraphEdge> edges = numbered_edges(rng, n);
        auto graph = ReweightedGraph::create(n, edges).value();
        const ReweightedGraph original = graph;
        expect_same_graph(graph.graph(), build_matching_graph(n, edges).value());
        for (int shot = 0; shot < 5; ++shot) {
            const auto real = random_weights(rng, edges.size());
            ASSERT_TRUE(graph.set_weights(real).ok());
            const auto integer = discretise_weights(real).value();
            for (size_t k = 0; k < edges.size(); ++k) edges[k].weight = integer[k];
            const MatchingGraph rebuilt = build_matching_graph(n, edges).value();
            SCOPED_TRACE("trial " + std::to_string(trial) + " shot " + std::to_string(shot));
            expect_same_graph(graph.graph(), rebuilt);
            std::vector<NodeId> events;
            for (uint32_t v = 0; v < n; ++v)
                if (rng.next_unit() < 0.3) events.push_back(v);
            SparseMatching a, b;
            const Status sa = engine.match(graph.graph(), events, a);
            const Status sb = engine.match(rebuilt, events, b);
            ASSERT_EQ(sa.ok(), sb.ok());
            if (sa.ok()) {
                EXPECT_EQ(a.weight, b.weight);
            }
            if (::testing::Test::HasFailure()) return;
        }
        graph.copy_weights_from(original);
        expect_same_graph(graph.graph(), original.graph());
    }
}

TEST(ReweightedGraph, RefusesBadWeightsWithoutChangingTheGraph) {
    const std::vector<GraphEdge> edges{{0, 1, 3, 1, 0}, {1, kBoundary, 1, 2, 0}, {1, 0, 3, 4, 0}};
    auto graph = ReweightedGraph::create(2, edges).value();
    const MatchingGraph before = graph.graph();
    EXPECT_EQ(graph.set_weights(std::vector<double>{1.0, 2.0}).error().message,
              "weights has 2 entries, expected one per edge (3)");
    EXPECT_EQ(graph.set_weights(std::vector<double>{1.0, -2.0, 0.5}).error().message,
              "weight 1 is -2.000000; weights must be finite and >= 0");
    expect_same_graph(graph.graph(), before);
}

}  // namespace
}  // namespace vornex::sparse
