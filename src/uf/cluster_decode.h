// One Union-Find decode on a check graph: defects listed, clusters grown,
// filled edges peeled, scratch reset. The defined core and the weighted
// decoder differ only in `grow(clusters, workspace)`, which grows the
// clusters from the defects listed in workspace.growth.active.
#pragma once

#include <cstring>
#include <span>

#include "code/check_graph.h"
#include "uf/uf_core.h"

namespace vornex {

template <class Grow>
void decode_clusters(const CheckGraph& graph, std::span<const uint8_t> syndrome, UfWorkspace& ws,
                     std::span<uint8_t> correction, Grow grow) {
    const size_t n_nodes = graph.n_nodes;
    const auto boundary = static_cast<uint32_t>(graph.n_checks);
    ClusterSet& clusters = ws.clusters;
    GrowthScratch& growth = ws.growth;
    clusters.reserve(n_nodes);
    growth.reserve(n_nodes, graph.edges.size());
    ws.peeling.reserve(n_nodes);
    ws.defects.reserve(graph.n_checks);
    if (!correction.empty()) std::memset(correction.data(), 0, correction.size());

    clusters.touch(boundary, boundary);
    list_defects(syndrome, ws.defects);
    for (uint32_t c : ws.defects) {
        clusters.touch(c, boundary);
        clusters.parity[c] = 1;
        growth.active.push_back(c);
    }
    grow(clusters, ws);
    peel_clusters(graph, ws.defects, clusters, growth.full.data(), growth.boundary_full, syndrome, ws.peeling,
                  correction);
    growth.reset();
    clusters.reset();
    ws.defects.clear();
}

}  // namespace vornex
