#include "uf/cluster_growth.h"

namespace vornex {

void GrowthScratch::reserve(size_t n_nodes, size_t n_edges) {
    if (grown.size() < n_edges) {
        grown.resize(n_edges, 0);
        full.resize(n_edges, 0);
        rate.resize(n_edges, 0);
        grown_edges.reserve(n_edges);
        round_edges.reserve(n_edges);
        newly_full.reserve(n_edges);
        boundary_full.reserve(n_edges);
    }
    if (listed.size() < n_nodes) {
        listed.resize(n_nodes, 0);
        active.reserve(n_nodes);
        next_active.reserve(n_nodes);
    }
}

void GrowthScratch::reset() {
    for (uint32_t e : grown_edges) {
        grown[e] = 0;
        full[e] = 0;
    }
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
        cs.fill_edge(edge.a, edge.b, e);
        if (edge.b == boundary) gs.boundary_full.push_back(e);
    }
    gs.newly_full.clear();
}

// A cluster can only turn active by merging with one that was active, so the
// next round's active roots are among the roots of this round's.
void collect_active(ClusterSet& cs, GrowthScratch& gs) {
    for (uint32_t r : gs.active) {
        const uint32_t root = cs.find(r);
        if (gs.listed[root] || !cs.active(root)) continue;
        gs.listed[root] = 1;
        gs.next_active.push_back(root);
    }
    for (uint32_t root : gs.next_active) gs.listed[root] = 0;
    gs.active.swap(gs.next_active);
    gs.next_active.clear();
}

}  // namespace growth_detail
}  // namespace vornex
