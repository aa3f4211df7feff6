#include "uf/cluster_set.h"

#include <algorithm>

namespace vornex {

void ClusterSet::reserve(size_t n_nodes) {
    if (parent.size() >= n_nodes) return;
    parent.resize(n_nodes);
    rnk.resize(n_nodes);
    parity.resize(n_nodes);
    has_bnd.resize(n_nodes);
    smallest.resize(n_nodes);
    frontier_head.resize(n_nodes);
    frontier_tail.resize(n_nodes);
    frontier_next.resize(n_nodes);
    filled_degree.resize(n_nodes);
    filled_xor.resize(n_nodes);
    touched.resize(n_nodes, 0);
    touched_nodes.reserve(n_nodes);
}

void ClusterSet::unite(uint32_t a, uint32_t b) {
    const uint32_t ra = find(a);
    const uint32_t rb = find(b);
    if (ra == rb) return;
    uint32_t root = ra, child = rb;
    if (rnk[ra] < rnk[rb]) {
        root = rb;
        child = ra;
    } else if (rnk[ra] == rnk[rb]) {
        rnk[ra] += 1;
    }
    parent[child] = root;
    parity[root] = parity[ra] ^ parity[rb];
    has_bnd[root] = has_bnd[ra] | has_bnd[rb];
    smallest[root] = std::min(smallest[ra], smallest[rb]);
    // Root's list first, then the child's.
    if (frontier_head[child] == kNoNode) return;
    if (frontier_head[root] == kNoNode) {
        frontier_head[root] = frontier_head[child];
    } else {
        frontier_next[frontier_tail[root]] = frontier_head[child];
    }
    frontier_tail[root] = frontier_tail[child];
}

void ClusterSet::reset() {
    for (uint32_t v : touched_nodes) touched[v] = 0;
    touched_nodes.clear();
}

}  // namespace vornex
