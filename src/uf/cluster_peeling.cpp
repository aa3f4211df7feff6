#include "uf/cluster_peeling.h"

#include <algorithm>

namespace vornex {

void PeelScratch::reserve(size_t n_nodes) {
    if (visited.size() >= n_nodes) return;
    visited.resize(n_nodes, 0);
    node_par.resize(n_nodes);
    tparent.resize(n_nodes);
    tqubit.resize(n_nodes);
    order.resize(n_nodes + 1);  // one spare: a search writes a slot before it counts it
    keep.resize(n_nodes, 0);
}

namespace {

// A node of filled degree 1 other than a tree root is a leaf of every
// spanning tree of its cluster, joined to it by its one filled edge (the XOR
// of its edge ids names it), so it peels without a search: it hands its
// defect bit along that edge and leaves. Stripping leaves until none is left
// peels every tree-shaped part; what remains of a cluster is its cycles and
// the path from its root to them.
//
// A stripped part hangs from the rest at one node and holds no root, so a
// search from the root never passes through it: the search over what remains
// meets the remaining nodes in the order a search over the whole cluster
// would, and builds the same tree there. Peeling is thus unchanged, only
// cheaper: a cluster without a cycle needs no search at all, and one with
// cycles is searched only where they are.
class LeafStripper {
public:
    LeafStripper(const CheckGraph& g, ClusterSet& cs, uint8_t* full, std::span<const uint8_t> syndrome,
                 PeelScratch& s, std::span<uint8_t> correction)
        : g_(g), cs_(cs), full_(full), syndrome_(syndrome), s_(s), correction_(correction) {}

    // Sets every touched node's defect bit, then strips. Tree roots must be
    // marked in s_.keep. A stripped edge is cleared from `full`.
    void strip_all() {
        const auto n_checks = static_cast<uint32_t>(g_.n_checks);
        uint32_t* degree = cs_.filled_degree.data();
        uint32_t* edge_xor = cs_.filled_xor.data();
        uint8_t* bit = s_.node_par.data();
        const uint8_t* keep = s_.keep.data();
        uint32_t* stack = s_.order.data();
        uint32_t top = 0;
        for (uint32_t v : cs_.touched_nodes) {
            bit[v] = v < n_checks ? syndrome_[v] & 1u : 0;
            if (degree[v] == 1 && !keep[v]) stack[top++] = v;
        }
        while (top > 0) {
            const uint32_t v = stack[--top];
            if (degree[v] != 1) continue;  // only a cluster without a root strips down to nothing
            const uint32_t e = edge_xor[v];
            const CheckEdge& edge = g_.edges[e];
            const uint32_t u = edge.a == v ? edge.b : edge.a;
            degree[v] = 0;
            full_[e] = 0;
            if (bit[v]) {
                if (edge.q < correction_.size()) correction_[edge.q] ^= 1u;
                bit[u] ^= 1u;
                bit[v] = 0;
            }
            edge_xor[u] ^= e;
            if (--degree[u] == 1 && !keep[u]) stack[top++] = u;
        }
    }

private:
    const CheckGraph& g_;
    ClusterSet& cs_;
    uint8_t* full_;
    std::span<const uint8_t> syndrome_;
    PeelScratch& s_;
    std::span<uint8_t> correction_;
};

// Breadth-first spanning trees of what leaf stripping left, peeled leaves
// first. The defect bits are the stripped ones (set for every touched node).
class ForestPeeler {
public:
    ForestPeeler(const CheckGraph& g, const uint8_t* full, std::span<const uint32_t> boundary_full,
                 PeelScratch& s, std::span<uint8_t> correction)
        : g_(g), full_(full), boundary_full_(boundary_full), s_(s), correction_(correction) {}

    bool reached(uint32_t v) const { return s_.visited[v] != 0; }

    // Searches the tree of `root`, then peels it. The graph's arrays are read
    // through locals: the byte stores of the search may alias anything, so
    // members would be reloaded on every edge.
    void tree(uint32_t root) {
        const uint32_t first = tail_;
        reach(root, root, kNoIndex);
        const uint32_t* start = g_.incidence_start.data();
        const uint32_t* incident = g_.incident_edges.data();
        const auto boundary = static_cast<uint32_t>(g_.n_checks);
        for (uint32_t head = first; head < tail_; ++head) {
            const uint32_t u = s_.order[head];
            if (u == boundary) {
                scan(u, boundary_full_.data(), boundary_full_.data() + boundary_full_.size());
            } else {
                scan(u, incident + start[u], incident + start[u + 1]);
            }
        }
        peel(first);
    }

    // Clears the search marks of every node reached.
    void finish() {
        for (uint32_t i = 0; i < tail_; ++i) s_.visited[s_.order[i]] = 0;
    }

private:
    void reach(uint32_t v, uint32_t from, uint32_t qubit) {
        s_.visited[v] = 1;
        s_.tparent[v] = from;
        s_.tqubit[v] = qubit;
        s_.order[tail_++] = v;
    }

    // Reaches the far end of each filled edge of a run of u's edges, unless
    // already reached. Without a branch on whether each is filled, which the
    // predictor cannot guess: every edge writes its far end to the next queue
    // slot, and only a filled edge to an unreached node keeps it there.
    void scan(uint32_t u, const uint32_t* edge_id, const uint32_t* end) {
        const CheckEdge* edges = g_.edges.data();
        const uint8_t* full = full_;
        uint8_t* visited = s_.visited.data();
        uint32_t* tparent = s_.tparent.data();
        uint32_t* tqubit = s_.tqubit.data();
        uint32_t* order = s_.order.data();
        uint32_t tail = tail_;
        for (; edge_id != end; ++edge_id) {
            const uint32_t e = *edge_id;
            const CheckEdge& edge = edges[e];
            const uint32_t v = edge.a ^ edge.b ^ u;
            const uint32_t take = full[e] & (visited[v] ^ 1u);
            const uint32_t keep = take - 1;  // all ones when the edge is not taken
            visited[v] = static_cast<uint8_t>(visited[v] | take);
            tparent[v] = (tparent[v] & keep) | (u & ~keep);
            tqubit[v] = (tqubit[v] & keep) | (edge.q & ~keep);
            order[tail] = v;
            tail += take;
        }
        tail_ = tail;
    }

    // Leaves first: a defect moves to its tree parent along the tree edge.
    void peel(uint32_t first) {
        for (uint32_t i = tail_; i-- > first;) {
            const uint32_t v = s_.order[i];
            const uint32_t p = s_.tparent[v];
            if (p == v || !s_.node_par[v]) continue;
            const uint32_t q = s_.tqubit[v];
            if (q < correction_.size()) correction_[q] ^= 1u;
            s_.node_par[p] ^= 1u;
            s_.node_par[v] = 0;
        }
    }

    const CheckGraph& g_;
    const uint8_t* full_;
    std::span<const uint32_t> boundary_full_;  // the boundary's filled edges in edge order
    PeelScratch& s_;
    std::span<uint8_t> correction_;
    uint32_t tail_ = 0;
};

// The node a defect's cluster is peeled towards.
uint32_t tree_root_of(ClusterSet& clusters, uint32_t defect, uint32_t boundary) {
    const uint32_t root = clusters.find(defect);
    return clusters.has_bnd[root] ? boundary : clusters.smallest[root];
}

}  // namespace

void peel_clusters(const CheckGraph& g, std::span<const uint32_t> defects, ClusterSet& clusters, uint8_t* full,
                   std::span<uint32_t> boundary_full, std::span<const uint8_t> syndrome, PeelScratch& scratch,
                   std::span<uint8_t> correction) {
    const auto boundary = static_cast<uint32_t>(g.n_checks);
    for (uint32_t c : defects) scratch.keep[tree_root_of(clusters, c, boundary)] = 1;
    LeafStripper(g, clusters, full, syndrome, scratch, correction).strip_all();
    bool cycles_left = false;
    for (uint32_t c : defects) {
        const uint32_t tree_root = tree_root_of(clusters, c, boundary);
        scratch.keep[tree_root] = 0;
        cycles_left |= clusters.filled_degree[tree_root] != 0;
    }
    if (!cycles_left) return;

    std::sort(boundary_full.begin(), boundary_full.end());
    ForestPeeler peeler(g, full, boundary_full, scratch, correction);
    for (uint32_t c : defects) {
        const uint32_t tree_root = tree_root_of(clusters, c, boundary);
        if (clusters.filled_degree[tree_root] == 0 || peeler.reached(tree_root)) continue;
        peeler.tree(tree_root);
    }
    peeler.finish();
}

}  // namespace vornex
