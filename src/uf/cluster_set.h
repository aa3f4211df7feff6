// The clusters of one Union-Find decode: a union-find forest over the nodes
// the decode has touched, each root carrying its cluster's parity, boundary
// flag, smallest node and frontier (the nodes that may still grow).
//
// Only touched nodes are ever read, and a decode resets exactly the nodes it
// touched, so the cost of a decode follows its clusters, not the graph.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vornex {

inline constexpr uint32_t kNoNode = 0xFFFFFFFFu;

struct ClusterSet {
    std::vector<uint32_t> parent;         // parent of a touched node; a root points to itself
    std::vector<uint8_t> rnk;             // rank of a root, for union by rank
    std::vector<uint8_t> parity;          // at a root: 1 when the cluster holds an odd number of defects
    std::vector<uint8_t> has_bnd;         // at a root: 1 when the cluster holds the boundary node
    std::vector<uint32_t> smallest;       // at a root: the cluster's smallest node, its tree root when peeled
    std::vector<uint32_t> frontier_head;  // at a root: first frontier node, kNoNode when none can grow
    std::vector<uint32_t> frontier_tail;  // at a root: last frontier node
    std::vector<uint32_t> frontier_next;  // next node of the same frontier list, kNoNode at its end
    std::vector<uint32_t> filled_degree;  // filled edges at a touched node, counted as they fill; peeling counts down
    std::vector<uint32_t> filled_xor;     // XOR of the ids of those edges: the edge itself when there is one
    std::vector<uint8_t> touched;         // 1 once the node joined this decode; all 0 between decodes
    std::vector<uint32_t> touched_nodes;  // the nodes with touched == 1, to reset them at the end

    // Grows every array to n_nodes; new entries are untouched.
    void reserve(size_t n_nodes);

    // First touch makes `v` a singleton cluster that holds only itself on its
    // frontier; the boundary node gets an empty frontier since it never grows.
    void touch(uint32_t v, uint32_t boundary) {
        if (touched[v]) return;
        touched[v] = 1;
        touched_nodes.push_back(v);
        parent[v] = v;
        rnk[v] = 0;
        parity[v] = 0;
        has_bnd[v] = v == boundary;
        smallest[v] = v;
        frontier_head[v] = v == boundary ? kNoNode : v;
        frontier_tail[v] = v;
        frontier_next[v] = kNoNode;
        filled_degree[v] = 0;
        filled_xor[v] = 0;
    }

    // Path halving; roots do not depend on how paths are compressed.
    uint32_t find(uint32_t x) {
        while (parent[x] != x) {
            parent[x] = parent[parent[x]];
            x = parent[x];
        }
        return x;
    }

    // Odd and without the boundary: the clusters that grow.
    bool active(uint32_t root) const { return parity[root] && !has_bnd[root]; }

    // Joins the clusters of two touched nodes (union by rank, ties to a's
    // side), combining flags and splicing the frontier lists.
    void unite(uint32_t a, uint32_t b);

    // Records filled edge `e` between touched nodes a and b, then unites them.
    void fill_edge(uint32_t a, uint32_t b, uint32_t e) {
        filled_degree[a] += 1;
        filled_xor[a] ^= e;
        filled_degree[b] += 1;
        filled_xor[b] ^= e;
        unite(a, b);
    }

    // Calls still_open(u) on each frontier node of a root's cluster, in list
    // order, and drops from the frontier the nodes for which it is false
    // (nodes with no unfilled edge left, which can never grow again).
    template <class StillOpen>
    void prune_frontier(uint32_t root, StillOpen still_open) {
        uint32_t* next_of = frontier_next.data();  // a local: still_open's stores may alias the field
        uint32_t prev = kNoNode;
        for (uint32_t u = frontier_head[root]; u != kNoNode;) {
            const uint32_t next = next_of[u];
            if (still_open(u)) {
                prev = u;
            } else {
                if (prev == kNoNode) {
                    frontier_head[root] = next;
                } else {
                    next_of[prev] = next;
                }
                if (frontier_tail[root] == u) frontier_tail[root] = prev;
            }
            u = next;
        }
    }

    // Back to all untouched, in time proportional to the touched nodes.
    void reset();
};

}  // namespace vornex
