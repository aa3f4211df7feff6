// Synchronous cluster growth on the check graph, touching only the frontier
// of the active clusters (Delfosse-Nickerson growth with integer edge
// weights, as in the weighted Union-Find decoders of Huang, Newman and
// Brown). Each active cluster adds one unit per tick to every unfilled edge
// at its frontier, so an edge between two active ends gains two.
//
// Rather than tick by tick, a round jumps straight to the tick at which the
// first edge fills: until then no cluster merges, so every edge keeps its
// rate, and the jump lands on exactly the state the single ticks would reach.
// With every weight 2 (two half-steps per edge) this is the growth of the
// defined Union-Find core, round for round wherever an edge fills.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "code/check_graph.h"
#include "uf/cluster_set.h"
#include "uf/id_list.h"

namespace vornex {

struct GrowthScratch {
    std::vector<uint32_t> grown;          // per edge: units grown, up to its weight; 0 between decodes
    std::vector<uint8_t> full;            // per edge: 1 once grown reached the weight (peeling clears what it strips);
                                          // 0 between decodes
    std::vector<uint8_t> rate;            // per edge: active ends reaching it this round; 0 between rounds
    IdList grown_edges;                   // edges with grown > 0, to reset them at the end
    IdList round_edges;                   // edges growing this round, in the order first reached; empty between rounds
    IdList newly_full;                    // edges that filled up this round
    std::vector<uint32_t> boundary_full;  // every full edge to the boundary node
    std::vector<uint32_t> active;         // roots of the clusters growing this round
    std::vector<uint32_t> next_active;    // roots of the clusters growing next round
    std::vector<uint8_t> listed;          // root already in next_active; 0 between rounds

    // Grows every array to the graph's size; new entries are clean.
    void reserve(size_t n_nodes, size_t n_edges);

    // Back to clean, in time proportional to the edges the decode grew.
    void reset();
};

// Every edge weighs two half-steps: the defined unweighted core.
struct HalfStepWeights {
    uint32_t operator()(uint32_t) const { return 2; }
};

// Per-edge integer weights, each at least 1.
struct EdgeWeights {
    const uint32_t* weight;
    uint32_t operator()(uint32_t e) const { return weight[e]; }
};

namespace growth_detail {

// Adds one to the rate of each unfilled edge at the frontier nodes of the
// active clusters, listing each edge the first time it is reached, and drops
// from the frontiers the nodes with no unfilled edge left. The arrays are
// read through locals: the rate's byte stores may alias anything, so fields
// would be reloaded on every edge.
inline void reach_frontiers(const CheckGraph& g, ClusterSet& cs, GrowthScratch& gs) {
    const uint32_t* start = g.incidence_start.data();
    const uint32_t* incident = g.incident_edges.data();
    const uint8_t* full = gs.full.data();
    uint8_t* rate = gs.rate.data();
    uint32_t* reached = gs.round_edges.data();
    uint32_t n_reached = 0;
    for (uint32_t root : gs.active) {
        cs.prune_frontier(root, [&](uint32_t u) {
            // Branch-free: whether an edge is filled is a coin flip to the
            // predictor, and a miss costs more than the work it would skip.
            uint32_t open = 0;
            for (uint32_t k = start[u], end = start[u + 1]; k < end; ++k) {
                const uint32_t e = incident[k];
                const uint32_t grows = full[e] ^ 1u;
                const uint32_t r = rate[e];
                open |= grows;
                rate[e] = static_cast<uint8_t>(r + grows);
                reached[n_reached] = e;
                n_reached += grows & (r == 0);
            }
            return open != 0;
        });
    }
    gs.round_edges.set_size(n_reached);
}

// Ticks for `remaining` units at `rate` units a tick, rounded up. The rate is
// almost always 1 or 2 (an edge has two ends), and a division in this loop
// costs more than the rest of a round on a graph with few events.
inline uint64_t ticks_to_fill(uint64_t remaining, uint32_t rate) {
    if (rate == 1) return remaining;
    if (rate == 2) return (remaining + 1) >> 1;
    return (remaining + rate - 1) / rate;
}

// Ticks until the first growing edge fills. No edge fills in less than one
// tick, so the search stops at the first that fills in one (with two
// half-steps per edge, most rounds have one among their first edges).
template <class Weight>
uint64_t ticks_to_next_fill(const GrowthScratch& gs, Weight weight) {
    uint64_t ticks = UINT64_MAX;
    for (uint32_t e : gs.round_edges) {
        ticks = std::min<uint64_t>(ticks, ticks_to_fill(weight(e) - gs.grown[e], gs.rate[e]));
        if (ticks == 1) break;
    }
    return ticks;
}

// Grows every edge of the round by `ticks`, listing the edges it grows first
// and those it fills. Branch-free, through locals, like the frontier scan.
template <class Weight>
void advance(GrowthScratch& gs, Weight weight, uint64_t ticks) {
    uint32_t* grown = gs.grown.data();
    uint8_t* rate = gs.rate.data();
    uint8_t* full = gs.full.data();
    uint32_t* first_grown = gs.grown_edges.data();
    uint32_t n_first_grown = gs.grown_edges.size();
    uint32_t* filled = gs.newly_full.data();
    uint32_t n_filled = gs.newly_full.size();
    for (uint32_t e : gs.round_edges) {
        const uint32_t w = weight(e);
        const uint32_t before = grown[e];
        const auto after = static_cast<uint32_t>(std::min<uint64_t>(w, before + ticks * rate[e]));
        const uint32_t fills = after == w;
        grown[e] = after;
        rate[e] = 0;
        full[e] = static_cast<uint8_t>(fills);
        first_grown[n_first_grown] = e;
        n_first_grown += before == 0;
        filled[n_filled] = e;
        n_filled += fills;
    }
    gs.grown_edges.set_size(n_first_grown);
    gs.newly_full.set_size(n_filled);
    gs.round_edges.clear();
}

void merge_filled(const CheckGraph& g, ClusterSet& cs, GrowthScratch& gs);
void collect_active(ClusterSet& cs, GrowthScratch& gs);

}  // namespace growth_detail

// Grows from the roots in gs.active (the singleton defects, touched, parity
// set) until no cluster is active or none can grow. Afterwards gs.full marks
// the filled edges, which are exactly the edges the clusters were united by,
// and gs.boundary_full lists the filled boundary edges.
template <class Weight>
void grow_clusters(const CheckGraph& g, Weight weight, ClusterSet& cs, GrowthScratch& gs) {
    while (!gs.active.empty()) {
        growth_detail::reach_frontiers(g, cs, gs);
        if (gs.round_edges.empty()) break;
        growth_detail::advance(gs, weight, growth_detail::ticks_to_next_fill(gs, weight));
        growth_detail::merge_filled(g, cs, gs);
        growth_detail::collect_active(cs, gs);
    }
}

}  // namespace vornex
