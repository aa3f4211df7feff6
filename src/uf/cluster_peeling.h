// Peeling (Delfosse-Zemor erasure decoding) of the filled edges left by
// cluster growth: a breadth-first spanning forest of each cluster that holds
// a defect, rooted at the boundary node or else at the cluster's smallest
// node, peeled leaves first. Searches run over each node's edges in edge
// order, so the forest is the one a search over the whole graph would build.
// The tree-shaped parts of a cluster peel by stripping leaves, without a
// search; only a cluster's cycles need the search to choose its tree.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "code/check_graph.h"
#include "uf/cluster_set.h"

namespace vornex {

struct PeelScratch {
    std::vector<uint8_t> visited;   // reached by a forest search; 0 between decodes
    std::vector<uint8_t> node_par;  // defect bit a node carries while peeling, set for every touched node
    std::vector<uint32_t> tparent;  // forest parent; a tree root points to itself
    std::vector<uint32_t> tqubit;   // qubit of the edge to tparent
    std::vector<uint32_t> order;    // nodes in the order the searches reached them; each tree's stretch is its queue
                                    // (first the stack of leaves to strip)
    std::vector<uint8_t> keep;      // 1 at the tree roots while leaves are stripped; 0 between decodes

    void reserve(size_t n_nodes);
};

// Toggles into `correction` the peeled qubits of every cluster that holds one
// of `defects`. `full` marks the filled edges (peeling clears the ones it
// consumes, so each filled edge is 0 or still set afterwards); the
// clusters' filled degrees and edge XORs are consumed too. `boundary_full`
// lists the filled boundary edges (it gets sorted). A defect whose cluster
// has no boundary stays unexplained at its tree root.
void peel_clusters(const CheckGraph& g, std::span<const uint32_t> defects, ClusterSet& clusters, uint8_t* full,
                   std::span<uint32_t> boundary_full, std::span<const uint8_t> syndrome, PeelScratch& scratch,
                   std::span<uint8_t> correction);

}  // namespace vornex
