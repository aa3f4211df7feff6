#include "matching/sparse/reweighted_graph.h"

#include <algorithm>
#include <string>
#include <utility>

namespace vornex::sparse {

namespace {

// The two ends of an edge in one order, so that parallel edges share a key.
std::pair<NodeId, NodeId> ends_key(NodeId u, NodeId v) { return {std::min(u, v), std::max(u, v)}; }

}  // namespace

Result<ReweightedGraph> ReweightedGraph::create(uint32_t n_nodes, std::span<const GraphEdge> edges) {
    std::vector<GraphEdge> numbered(edges.begin(), edges.end());
    for (size_t k = 0; k < numbered.size(); ++k) numbered[k].id = static_cast<uint32_t>(k);
    auto built = build_matching_graph(n_nodes, numbered);
    if (!built) return built.error();
    ReweightedGraph g;
    g.graph_ = std::move(built).value();
    g.discrete_.resize(edges.size());
    g.observables_.resize(edges.size());
    for (size_t k = 0; k < edges.size(); ++k) {
        g.discrete_[k] = edges[k].weight;
        g.observables_[k] = edges[k].observables;
    }
    // Edges by their ends (input order within equal ends), for each
    // half-edge's list of parallel edges.
    std::vector<std::pair<std::pair<NodeId, NodeId>, uint32_t>> by_ends;
    for (size_t k = 0; k < edges.size(); ++k)
        if (edges[k].u != edges[k].v) by_ends.push_back({ends_key(edges[k].u, edges[k].v), static_cast<uint32_t>(k)});
    std::sort(by_ends.begin(), by_ends.end());
    g.parallel_begin_.assign(g.graph_.n_half_edges() + 1, 0);
    for (NodeId from = 0; from < g.graph_.n_nodes; ++from) {
        for (uint32_t h = g.graph_.row_begin[from]; h < g.graph_.row_begin[from + 1]; ++h) {
            const auto key = ends_key(from, g.graph_.neighbour[h]);
            auto it = std::lower_bound(by_ends.begin(), by_ends.end(), std::make_pair(key, uint32_t{0}));
            for (; it != by_ends.end() && it->first == key; ++it) g.parallel_edges_.push_back(it->second);
            g.parallel_begin_[h + 1] = static_cast<uint32_t>(g.parallel_edges_.size());
        }
    }
    return g;
}

Status ReweightedGraph::set_weights(std::span<const double> weights) {
    if (weights.size() != discrete_.size()) {
        return value_error("weights has " + std::to_string(weights.size()) + " entries, expected one per edge (" +
                           std::to_string(discrete_.size()) + ")");
    }
    if (auto status = discretise_weights_into(weights, discrete_); !status) return status;
    for (size_t h = 0; h < graph_.n_half_edges(); ++h) {
        uint32_t best = parallel_edges_[parallel_begin_[h]];
        for (uint32_t i = parallel_begin_[h] + 1; i < parallel_begin_[h + 1]; ++i)
            if (discrete_[parallel_edges_[i]] < discrete_[best]) best = parallel_edges_[i];
        // Doubled, as build_matching_graph stores them (see matching_graph.h).
        graph_.weight[h] = 2 * discrete_[best];
        graph_.edge_id[h] = best;
        graph_.observables[h] = observables_[best];
    }
    return ok_status();
}

void ReweightedGraph::copy_weights_from(const ReweightedGraph& other) {
    graph_.weight = other.graph_.weight;
    graph_.edge_id = other.graph_.edge_id;
    graph_.observables = other.graph_.observables;
    discrete_ = other.discrete_;
}

}  // namespace vornex::sparse
