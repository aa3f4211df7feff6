// Shortest path between two matched detection events (or one and the
// boundary) on the matching graph, for corrections edge by edge.
//
// The engine keeps only the ends of each matched path; a correction needs
// its edges. Dijkstra from one end stops when it settles the other, so the
// search stays inside a ball of the pair's distance. Any shortest path will
// do: all have the matched weight.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "matching/sparse/matching_graph.h"
#include "matching/sparse/sparse_types.h"

namespace vornex::sparse {

class PathSearch {
public:
    // Appends the edge ids of a shortest path from `from` to `to` (kBoundary
    // for the boundary) to `edge_ids`; false when `to` is unreachable.
    bool append_path(const MatchingGraph& graph, NodeId from, NodeId to, std::vector<uint32_t>& edge_ids);

private:
    void grow(size_t n_nodes);

    std::vector<Time> distance_;            // per node (+1 for the boundary), kNever when unreached
    std::vector<uint32_t> via_half_edge_;   // half-edge that reached the node, read back from the target
    std::vector<NodeId> via_node_;          // the node on the other side of that half-edge
    std::vector<NodeId> touched_;           // nodes whose distance is set, to reset after the search
    std::vector<std::pair<Time, NodeId>> heap_;  // min-heap of (distance, node)
};

}  // namespace vornex::sparse
