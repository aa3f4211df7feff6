#include "uf/cluster_growth.h"

namespace vornex {

void GrowthScratch::reserve(size_t n_nodes, size_t n_edges) {
    if (grown.size() < n_edges) {
        grown.resize(n_edges, 0);
        stamp.resize(n_edges, kNever);
        fill_tick.resize(n_edges);
        rate.resize(n_edges, 0);
        full.resize(n_edges, 0);
        next_queued.resize(n_edges);
        prev_queued.resize(n_edges);
        grown_edges.reserve(n_edges);
        newly_full.reserve(n_edges);
        boundary_full.reserve(n_edges);
    }
    if (counted.size() < n_nodes) {
        counted.resize(n_nodes, 0);
        mark.resize(n_nodes, 0);
        active.reserve(n_nodes);
        old_roots.reserve(n_nodes);
        old_active.reserve(n_nodes);
        joined.reserve(n_nodes);
    }
}

void GrowthScratch::reset(std::span<const uint32_t> touched_nodes) {
    for (uint32_t e : grown_edges) {
        grown[e] = 0;
        stamp[e] = kNever;
        rate[e] = 0;
        full[e] = 0;
    }
    for (uint32_t v : touched_nodes) counted[v] = 0;
    grown_edges.clear();
    boundary_full.clear();
    active.clear();
}

namespace growth_detail {

// The order of the unions does not matter to the result: clusters are the
// components of the filled edges whichever root each union keeps.
void merge_filled(const CheckGraph& g, ClusterSet& cs, GrowthScratch& gs) {
    const auto boundary = static_cast<uint32_t>(g.n_checks);
    for (uint32_t e : gs.newly_full) {
        const CheckEdge& edge = g.edges[e];
        cs.touch(edge.a, boundary);
        cs.touch(edge.b, boundary);
        cs.unite(edge.a, edge.b);
        if (edge.b == boundary) gs.boundary_full.push_back(e);
    }
    gs.newly_full.clear();
}

}  // namespace growth_detail
}  // namespace vornex
