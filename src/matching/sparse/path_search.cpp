#include "matching/sparse/path_search.h"

#include <algorithm>
#include <functional>

namespace vornex::sparse {

void PathSearch::grow(size_t n_nodes) {
    if (distance_.size() < n_nodes + 1) {
        distance_.resize(n_nodes + 1, kNever);
        via_half_edge_.resize(n_nodes + 1, kNone);
        via_node_.resize(n_nodes + 1, kNone);
    }
}

bool PathSearch::append_path(const MatchingGraph& graph, NodeId from, NodeId to, std::vector<uint32_t>& edge_ids) {
    grow(graph.n_nodes);
    const NodeId boundary_slot = graph.n_nodes;
    const NodeId target = to == kBoundary ? boundary_slot : to;
    const auto greater = std::greater<std::pair<Time, NodeId>>();
    const auto reach = [&](NodeId node, Time d, uint32_t half_edge, NodeId via) {
        if (d >= distance_[node]) return;
        if (distance_[node] == kNever) touched_.push_back(node);
        distance_[node] = d;
        via_half_edge_[node] = half_edge;
        via_node_[node] = via;
        heap_.push_back({d, node});
        std::push_heap(heap_.begin(), heap_.end(), greater);
    };
    reach(from, 0, kNone, kNone);
    bool found = false;
    while (!heap_.empty()) {
        std::pop_heap(heap_.begin(), heap_.end(), greater);
        const auto [d, node] = heap_.back();
        heap_.pop_back();
        if (d != distance_[node]) continue;
        if (node == target) {
            found = true;
            break;
        }
        if (node == boundary_slot) continue;
        for (uint32_t k = graph.row_begin[node]; k < graph.row_begin[node + 1]; ++k) {
            const NodeId x = graph.neighbour[k];
            reach(x == kBoundary ? boundary_slot : x, d + graph.weight[k], k, node);
        }
    }
    if (found) {
        for (NodeId x = target; x != from; x = via_node_[x]) edge_ids.push_back(graph.edge_id[via_half_edge_[x]]);
    }
    for (const NodeId x : touched_) distance_[x] = kNever;
    touched_.clear();
    heap_.clear();
    return found;
}

}  // namespace vornex::sparse
