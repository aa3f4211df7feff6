#include "matching/sparse/matching_graph.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vornex::sparse {
namespace {

TEST(MatchingGraph, RowsMergeParallelEdgesAndDropSelfLoops) {
    const std::vector<GraphEdge> edges = {
        {0, 1, 5, 1, 10}, {1, 0, 3, 2, 11}, {1, 0, 3, 4, 12}, {2, 2, 1, 0, 13}, {2, kBoundary, 0, 8, 14}};
    const MatchingGraph g = build_matching_graph(3, edges).value();
    EXPECT_EQ(g.row_begin, (std::vector<uint32_t>{0, 1, 2, 3}));
    // The lightest of the parallel edges wins, the first of equal ones.
    EXPECT_EQ(g.neighbour, (std::vector<NodeId>{1, 0, kBoundary}));
    EXPECT_EQ(g.weight, (std::vector<Time>{6, 6, 0}));
    EXPECT_EQ(g.observables, (std::vector<ObsMask>{2, 2, 8}));
    EXPECT_EQ(g.edge_id, (std::vector<uint32_t>{11, 11, 14}));
    EXPECT_TRUE(g.has_boundary);
}

TEST(MatchingGraph, RejectsEndpointsAndWeightsOutOfRange) {
    const std::vector<GraphEdge> far = {{0, 1, 1, 0, 0}, {0, 3, 1, 0, 1}};
    EXPECT_EQ(build_matching_graph(2, far).error().message, "edge 1 joins node 0 and node 3, but the graph has 2 nodes");
    const std::vector<GraphEdge> negative = {{0, kBoundary, -1, 0, 0}};
    EXPECT_EQ(build_matching_graph(2, negative).error().message, "edge 0 has weight -1; weights must lie in 0..536870912");
    const std::vector<GraphEdge> huge = {{0, 1, kMaxEdgeWeight + 1, 0, 0}};
    EXPECT_FALSE(build_matching_graph(2, huge).ok());
}

TEST(MatchingGraph, DiscretisesRealWeightsAgainstTheLargest) {
    const std::vector<double> w = {2.0, 1.0, 0.0, 0.5};
    EXPECT_EQ(discretise_weights(w).value(), (std::vector<int64_t>{16384, 8192, 0, 4096}));
    const std::vector<double> equal = {3.0, 3.0};
    EXPECT_EQ(discretise_weights(equal).value(), (std::vector<int64_t>{1, 1}));
    const std::vector<double> bad = {1.0, std::numeric_limits<double>::quiet_NaN()};
    EXPECT_EQ(discretise_weights(bad).error().message, "weight 1 is nan; weights must be finite and >= 0");
    const std::vector<double> neg = {-1.0};
    EXPECT_FALSE(discretise_weights(neg).ok());
}

TEST(MatchingGraph, FromChecksTurnsQubitsIntoEdges) {
    // Qubit 0: checks 0 and 1; qubit 1: check 1 only (boundary); qubit 2: in
    // no check; qubit 3 listed twice in check 0 cancels there, so it only
    // flips check 2 (boundary).
    const CheckList checks = {{0, 3, 3}, {0, 1}, {3}};
    const std::vector<int64_t> weights = {4, 5, 6, 7};
    const MatchingGraph g = matching_graph_from_checks(checks, 4, weights).value();
    EXPECT_EQ(g.n_nodes, 3u);
    EXPECT_EQ(g.neighbour, (std::vector<NodeId>{1, 0, kBoundary, kBoundary}));
    EXPECT_EQ(g.edge_id, (std::vector<uint32_t>{0, 0, 1, 3}));
    EXPECT_EQ(g.weight, (std::vector<Time>{8, 8, 10, 14}));
    const CheckList hyper = {{0}, {0}, {0}};
    EXPECT_EQ(matching_graph_from_checks(hyper, 1, {}).error().message,
              "qubit 0 flips more than two checks; matching needs at most two");
    EXPECT_EQ(matching_graph_from_checks(checks, 2, {}).error().message, "check 0 names qubit 3, but n_qubits is 2");
    EXPECT_EQ(matching_graph_from_checks(checks, 4, std::vector<int64_t>{1}).error().message,
              "weights has 1 entries, expected n_qubits = 4");
}

}  // namespace
}  // namespace vornex::sparse
