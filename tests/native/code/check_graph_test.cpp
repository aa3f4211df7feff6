#include "code/check_graph.h"

#include <gtest/gtest.h>

#include <tuple>

namespace vornex {
namespace {

using EdgeTuple = std::tuple<uint32_t, uint32_t, uint32_t>;

std::vector<EdgeTuple> edge_tuples(const CheckGraph& graph) {
    std::vector<EdgeTuple> out;
    for (const auto& e : graph.edges) out.emplace_back(e.a, e.b, e.q);
    return out;
}

std::string error_of(CheckList checks, std::optional<size_t> n_qubits) {
    auto result = build_check_graph(std::move(checks), n_qubits);
    EXPECT_FALSE(result.ok());
    return result.ok() ? "" : result.error().message;
}

TEST(CheckGraph, SingleCheckDerivesQubitsAndBoundaryEdge) {
    auto graph = build_check_graph({{0}}, std::nullopt);
    ASSERT_TRUE(graph.ok());
    EXPECT_EQ(graph.value().n_qubits, 1u);
    EXPECT_EQ(graph.value().n_nodes, 2u);
    EXPECT_EQ(edge_tuples(graph.value()), (std::vector<EdgeTuple>{{0, 1, 0}}));
}

TEST(CheckGraph, EdgesFollowQubitOrderWithFirstMetCheckAsA) {
    auto graph = build_check_graph({{0, 1}, {1, 2}}, 3);
    ASSERT_TRUE(graph.ok());
    EXPECT_EQ(edge_tuples(graph.value()), (std::vector<EdgeTuple>{{0, 2, 0}, {0, 1, 1}, {1, 2, 2}}));
    // Orientation follows scan order, not check numbers.
    auto reversed = build_check_graph({{5, 3}, {3, 5}}, std::nullopt);
    ASSERT_TRUE(reversed.ok());
    EXPECT_EQ(edge_tuples(reversed.value()), (std::vector<EdgeTuple>{{0, 1, 3}, {0, 1, 5}}));
}

TEST(CheckGraph, UnusedQubitsAndSelfLoops) {
    auto graph = build_check_graph({{0, 1}}, 5);
    ASSERT_TRUE(graph.ok());
    EXPECT_EQ(graph.value().n_qubits, 5u);
    EXPECT_EQ(graph.value().edges.size(), 2u);
    auto loop = build_check_graph({{0, 0}}, std::nullopt);
    ASSERT_TRUE(loop.ok());
    EXPECT_EQ(edge_tuples(loop.value()), (std::vector<EdgeTuple>{{0, 0, 0}}));
}

// Each check lists its edges in edge order (a self-loop twice); the
// boundary's run stays empty.
TEST(CheckGraph, IncidenceRunsInEdgeOrder) {
    // Edges: q0 (0, boundary), q1 (0, 1), q2 (1, 1), q3 (0, 1).
    const auto graph = build_check_graph({{0, 1, 3}, {1, 2, 2, 3}}, std::nullopt).value();
    EXPECT_EQ(graph.incidence_start, (std::vector<uint32_t>{0, 3, 7, 7}));
    EXPECT_EQ(graph.incident_edges, (std::vector<uint32_t>{0, 1, 3, 1, 2, 2, 3}));
}

TEST(CheckGraph, ValidationMessagesInOrder) {
    EXPECT_EQ(error_of({}, std::nullopt), "check_to_qubits must be non-empty");
    EXPECT_EQ(error_of({{0}, {}}, std::nullopt), "All checks must be non-empty");
    // An empty check is reported before an invalid index in a later check.
    EXPECT_EQ(error_of({{}, {0xFFFFFFFFu}}, std::nullopt), "All checks must be non-empty");
    EXPECT_EQ(error_of({{0, 0xFFFFFFFFu}}, 3), "Invalid qubit index (u32::MAX)");
    EXPECT_EQ(error_of({{0, 1}}, 1), "Qubit index 1 >= n_qubits 1");
    EXPECT_EQ(error_of({{0, 1}}, 0), "Qubit index 1 >= n_qubits 0");
    // The index check comes before the hyperedge check.
    EXPECT_EQ(error_of({{7}, {7}, {7, 9}}, 8), "Qubit index 9 >= n_qubits 8");
}

TEST(CheckGraph, HyperedgeMessageNamesFirstQubitAndCount) {
    const std::string expected =
        "UnionFindDecoder / FastUnionFindDecoder only support stabilizer codes with checks of weight "
        "\u2264 2.\nQubit 7 participates in 3 checks (hyperedge).\nUse BlossomDecoder, "
        "SparseBlossomDecoder, or BPOSDDecoder instead.\n(Codes from generate_surface_code_checks() "
        "contain weight-4 checks)";
    // Qubit 9 has more slots, but qubit 7 is the first offender in qubit order.
    EXPECT_EQ(error_of({{9, 7}, {7, 9}, {7, 9, 9}}, std::nullopt), expected);
    EXPECT_EQ(error_of({{7}, {7}, {7}}, std::nullopt), expected);
    // A repeated index counts every time it appears.
    EXPECT_NE(error_of({{2, 2, 2}}, std::nullopt).find("Qubit 2 participates in 3 checks"), std::string::npos);
}

TEST(CheckGraph, HugeDeclaredQubitCountIsCheapOrRejected) {
    auto large = build_check_graph({{0, 1}}, size_t{4000000000});
    ASSERT_TRUE(large.ok());
    EXPECT_EQ(large.value().edges.size(), 2u);
    EXPECT_EQ(error_of({{0}}, size_t{1} << 40), "n_qubits 1099511627776 exceeds the 32-bit index range");
}

TEST(CheckGraph, EdgeListIsConsecutivePairs) {
    using Pairs = std::vector<std::pair<uint32_t, uint32_t>>;
    EXPECT_EQ(check_to_edges({{0, 1, 2}, {3}, {4, 5}}), (Pairs{{0, 1}, {1, 2}, {4, 5}}));
    EXPECT_EQ(check_to_edges({}), Pairs{});
    EXPECT_EQ(check_to_edges({{}, {}}), Pairs{});
}

}  // namespace
}  // namespace vornex
