// A matching graph whose edge weights change from shot to shot while its
// edges stay the same (belief-matching re-derives every weight from each
// shot's posteriors).
//
// The structure is built once; set_weights only rewrites the half-edges in
// place, discretised by the engine's own rule, so a shot costs a pass over
// the edges and never a rebuild or an allocation. Parallel edges (the same
// two ends) share one half-edge per end, which carries the lightest of them
// under the current weights (the first on a tie), as build_matching_graph
// keeps them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "base/result.h"
#include "matching/sparse/matching_graph.h"

namespace vornex::sparse {

class ReweightedGraph {
public:
    // Edges as for build_matching_graph, with their positions as ids (the
    // `id` fields are ignored) and their weights as the starting weights.
    static Result<ReweightedGraph> create(uint32_t n_nodes, std::span<const GraphEdge> edges);

    // One real weight per edge, in the order given to create, finite and
    // non-negative, discretised as discretise_weights does. On an error the
    // graph is left as it was.
    Status set_weights(std::span<const double> weights);

    // Takes the weights of `other`, a copy of this graph (same edges).
    void copy_weights_from(const ReweightedGraph& other);

    const MatchingGraph& graph() const { return graph_; }
    size_t n_edges() const { return discrete_.size(); }

private:
    MatchingGraph graph_;
    std::vector<int64_t> discrete_;        // per edge: the integer weight of the last set_weights
    std::vector<ObsMask> observables_;     // per edge
    std::vector<uint32_t> parallel_begin_; // per half-edge + 1: offsets into parallel_edges_
    std::vector<uint32_t> parallel_edges_; // per half-edge: the edges with its two ends, in input order
};

}  // namespace vornex::sparse
