// The sparse detector graph the exact matching engine floods.
//
// Nodes are detectors; every edge joins two detectors or one detector and
// the boundary, with a non-negative integer weight, an observable mask and
// the caller's id (a qubit, an error mechanism) used to report corrections.
// Adjacency is stored in compressed rows.
//
// Weights are doubled on the way in. Every region starts at radius 0 at time
// 0 and grows, shrinks or rests at unit speed; a region joins a tree only
// along a tight edge, so all regions in trees share the parity of the clock
// and, with even weights, two growing regions meet after (W - a - b) / 2, an
// integer. Events therefore fall on integer times and integer queues suffice.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/result.h"
#include "code/check_graph.h"
#include "matching/sparse/sparse_types.h"

namespace vornex::sparse {

// Largest accepted caller weight; path lengths of up to 2^32 edges stay
// inside 64 bits after doubling.
inline constexpr int64_t kMaxEdgeWeight = int64_t{1} << 29;

// Real-valued weights are scaled so the largest becomes this integer.
inline constexpr int64_t kDiscreteWeightScale = 1 << 14;

// One edge as the caller describes it; v == kBoundary for a boundary edge.
struct GraphEdge {
    NodeId u = 0;
    NodeId v = 0;
    int64_t weight = 0;
    ObsMask observables = 0;
    uint32_t id = 0;
};

struct MatchingGraph {
    uint32_t n_nodes = 0;
    std::vector<uint32_t> row_begin;     // n_nodes + 1 offsets into the arrays below
    std::vector<NodeId> neighbour;       // kBoundary for a boundary half-edge
    std::vector<Time> weight;            // doubled caller weight
    std::vector<ObsMask> observables;
    std::vector<uint32_t> edge_id;       // caller's id of the edge
    bool has_boundary = false;

    size_t n_half_edges() const { return neighbour.size(); }
};

// Builds the graph. Self-loops flip nothing and are dropped; of parallel
// edges (the same two ends) the lightest is kept, the first on a tie.
Result<MatchingGraph> build_matching_graph(uint32_t n_nodes, std::span<const GraphEdge> edges);

// Rounds real weights (log-likelihood ratios) to integers: w * S / max(w)
// with S = kDiscreteWeightScale, rounded to nearest; all weights equal (or
// none given) become 1. Negative or non-finite weights are an error.
Result<std::vector<int64_t>> discretise_weights(std::span<const double> weights);
// The same rule into `out` (one entry per weight), without allocating, for
// weights that change shot by shot.
Status discretise_weights_into(std::span<const double> weights, std::span<int64_t> out);

// Graph of a code: checks are nodes, a qubit in two checks joins them, a
// qubit in one check joins it to the boundary, a qubit in none is unused.
// A qubit listed twice in a check cancels there. Edge ids are qubit indices.
Result<MatchingGraph> matching_graph_from_checks(const CheckList& check_to_qubits, size_t n_qubits,
                                                 std::span<const int64_t> weights);

}  // namespace vornex::sparse
