#include "uf/cluster_peeling.h"

#include <algorithm>

namespace vornex {

void PeelScratch::reserve(size_t n_nodes) {
    if (visited.size() >= n_nodes) return;
    visited.resize(n_nodes, 0);
    node_par.resize(n_nodes);
    tparent.resize(n_nodes);
    tqubit.resize(n_nodes);
    order.resize(n_nodes);
}

namespace {

class ForestPeeler {
public:
    ForestPeeler(const CheckGraph& g, const uint8_t* full, std::span<const uint32_t> boundary_full,
                 std::span<const uint8_t> syndrome, PeelScratch& s, std::span<uint8_t> correction)
        : g_(g), full_(full), boundary_full_(boundary_full), syndrome_(syndrome), s_(s), correction_(correction) {}

    bool reached(uint32_t v) const { return s_.visited[v] != 0; }

    // Searches the tree of `root`, then peels it. The graph's arrays are read
    // through locals: the byte stores of the search may alias anything, so
    // members would be reloaded on every edge.
    void tree(uint32_t root) {
        const uint32_t first = tail_;
        reach(root, root, kNoIndex);
        const uint32_t* start = g_.incidence_start.data();
        const uint32_t* incident = g_.incident_edges.data();
        const uint8_t* full = full_;
        const auto boundary = static_cast<uint32_t>(g_.n_checks);
        for (uint32_t head = first; head < tail_; ++head) {
            const uint32_t u = s_.order[head];
            if (u == boundary) {
                for (uint32_t e : boundary_full_) step(u, e);
                continue;
            }
            const uint32_t end = start[u + 1];
            for (uint32_t k = start[u]; k < end; ++k) {
                const uint32_t e = incident[k];
                if (full[e]) step(u, e);
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
        s_.node_par[v] = v < g_.n_checks ? syndrome_[v] & 1u : 0;
        s_.order[tail_++] = v;
    }

    void step(uint32_t u, uint32_t e) {
        const CheckEdge& edge = g_.edges[e];
        const uint32_t v = edge.a == u ? edge.b : edge.a;
        if (!s_.visited[v]) reach(v, u, edge.q);
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
    std::span<const uint8_t> syndrome_;
    PeelScratch& s_;
    std::span<uint8_t> correction_;
    uint32_t tail_ = 0;
};

}  // namespace

void peel_clusters(const CheckGraph& g, std::span<const uint32_t> defects, ClusterSet& clusters,
                   const uint8_t* full, std::span<uint32_t> boundary_full, std::span<const uint8_t> syndrome,
                   PeelScratch& scratch, std::span<uint8_t> correction) {
    const auto boundary = static_cast<uint32_t>(g.n_checks);
    std::sort(boundary_full.begin(), boundary_full.end());
    ForestPeeler peeler(g, full, boundary_full, syndrome, scratch, correction);
    for (uint32_t c : defects) {
        const uint32_t root = clusters.find(c);
        const uint32_t tree_root = clusters.has_bnd[root] ? boundary : clusters.smallest[root];
        if (peeler.reached(tree_root)) continue;
        peeler.tree(tree_root);
    }
    peeler.finish();
}

}  // namespace vornex
