#include "uf/uf_core.h"

#include <algorithm>
#include <cstring>

namespace vornex {
namespace {

constexpr uint32_t kNoQubit = 0xFFFFFFFFu;

template <class T>
T* grow_to(std::vector<T>& v, size_t n) {
    if (v.size() < n) v.resize(n);
    return v.data();
}

// Path halving. Roots do not depend on how paths are compressed, so any
// caller may use this freely without changing a result.
inline uint32_t find(uint32_t* parent, uint32_t x) {
    while (parent[x] != x) {
        parent[x] = parent[parent[x]];
        x = parent[x];
    }
    return x;
}

// Raw views of the workspace, grown to one graph's size.
struct Arrays {
    uint32_t* parent;
    uint8_t* rnk;
    uint8_t* parity;
    uint8_t* has_bnd;
    uint8_t* support;
    uint8_t* node_par;
    uint32_t* off;
    uint32_t* cursor;
    uint32_t* adj_to;
    uint32_t* adj_q;
    uint8_t* visited;
    uint32_t* tparent;
    uint32_t* tqubit;
    uint32_t* order;
};

Arrays prepare(UfWorkspace& w, size_t n, size_t e) {
    Arrays a{};
    a.parent = grow_to(w.parent, n);
    a.rnk = grow_to(w.rnk, n);
    a.parity = grow_to(w.parity, n);
    a.has_bnd = grow_to(w.has_bnd, n);
    a.support = grow_to(w.support, e);
    a.node_par = grow_to(w.node_par, n);
    a.off = grow_to(w.off, n + 1);
    a.cursor = grow_to(w.cursor, n);
    a.adj_to = grow_to(w.adj_to, 2 * e);
    a.adj_q = grow_to(w.adj_q, 2 * e);
    a.visited = grow_to(w.visited, n);
    a.tparent = grow_to(w.tparent, n);
    a.tqubit = grow_to(w.tqubit, n);
    a.order = grow_to(w.order, n);
    // Sized like the others although the forest search queues in `order`.
    grow_to(w.queue, n);
    return a;
}

// Marks in `active` every node whose cluster has odd parity and no boundary;
// returns whether any check is active. The flags are taken once per round,
// which is exactly "as the clusters stood at the start of the pass" since no
// union happens before the pass ends.
bool mark_active(const Arrays& s, uint32_t n_checks, uint32_t n_nodes, uint8_t* active) {
    bool any = false;
    for (uint32_t n = 0; n < n_nodes; ++n) {
        const uint32_t r = find(s.parent, n);
        const uint8_t act = static_cast<uint8_t>(s.parity[r] & (s.has_bnd[r] ^ 1u));
        active[n] = act;
        any |= (n < n_checks) && act;
    }
    return any;
}

// Returns how many edges became fully grown in this pass and lists them, in
// edge order, in `newly_full`; `grew` tells whether any support rose at all.
uint32_t grow_pass(const CheckEdge* edges, uint32_t n_edges, const uint8_t* active, uint8_t* support,
                   uint32_t* newly_full, bool& grew) {
    uint32_t n_full = 0;
    grew = false;
    for (uint32_t e = 0; e < n_edges; ++e) {
        const uint8_t s = support[e];
        if (s == 2) continue;
        const uint32_t inc = active[edges[e].a] + active[edges[e].b];
        if (inc == 0) continue;
        const uint32_t grown = std::min<uint32_t>(s + inc, 2);
        support[e] = static_cast<uint8_t>(grown);
        grew = true;
        if (grown == 2) newly_full[n_full++] = e;
    }
    return n_full;
}

// Union by rank, ties to the `a` side; parity and boundary flags are read
// from both roots before the union. Only edges that filled up in this round
// are visited: an edge full since an earlier round already joins one
// cluster, so merging it again would change nothing.
void merge_pass(const CheckEdge* edges, const uint32_t* newly_full, uint32_t n_full, const Arrays& s) {
    for (uint32_t i = 0; i < n_full; ++i) {
        const CheckEdge& edge = edges[newly_full[i]];
        const uint32_t ra = find(s.parent, edge.a);
        const uint32_t rb = find(s.parent, edge.b);
        if (ra == rb) continue;
        const uint8_t par = s.parity[ra] ^ s.parity[rb];
        const uint8_t bnd = s.has_bnd[ra] | s.has_bnd[rb];
        uint32_t root;
        if (s.rnk[ra] < s.rnk[rb]) {
            s.parent[ra] = rb;
            root = rb;
        } else if (s.rnk[ra] > s.rnk[rb]) {
            s.parent[rb] = ra;
            root = ra;
        } else {
            s.parent[rb] = ra;
            s.rnk[ra] += 1;
            root = ra;
        }
        s.parity[root] = par;
        s.has_bnd[root] = bnd;
    }
}

// Grows until no cluster is active or a pass grows nothing. Every round that
// goes on raises the support of some edge, so this ends within 2E + 1
// rounds; a fixed round cap would cut growth short on long chains and leave
// a correctable defect unexplained.
void grow_clusters(const CheckGraph& g, const Arrays& s, uint8_t* active) {
    const auto n_checks = static_cast<uint32_t>(g.n_checks);
    const auto n_nodes = static_cast<uint32_t>(g.n_nodes);
    const auto n_edges = static_cast<uint32_t>(g.edges.size());
    const CheckEdge* edges = g.edges.data();
    // The adjacency arrays are free until growth ends.
    uint32_t* newly_full = s.adj_to;
    while (mark_active(s, n_checks, n_nodes, active)) {
        bool grew = false;
        const uint32_t n_full = grow_pass(edges, n_edges, active, s.support, newly_full, grew);
        if (!grew) break;
        merge_pass(edges, newly_full, n_full, s);
    }
}

// Compressed adjacency of the fully grown edges, the erasure that peeling
// explains; a self-loop appears twice in its node's run. An edge that never
// grew must stay out even when its ends share a cluster: through it a defect
// could be routed out by a boundary edge growth never reached, and the
// residual error could then be a logical operator.
void build_adjacency(const CheckGraph& g, const Arrays& s) {
    const auto n_nodes = static_cast<uint32_t>(g.n_nodes);
    const auto n_edges = static_cast<uint32_t>(g.edges.size());
    const CheckEdge* edges = g.edges.data();
    std::memset(s.off, 0, (size_t{n_nodes} + 1) * sizeof(uint32_t));
    for (uint32_t e = 0; e < n_edges; ++e) {
        if (s.support[e] != 2) continue;
        s.off[edges[e].a + 1] += 1;
        s.off[edges[e].b + 1] += 1;
    }
    for (uint32_t n = 0; n < n_nodes; ++n) s.off[n + 1] += s.off[n];
    for (uint32_t n = 0; n < n_nodes; ++n) s.cursor[n] = s.off[n];
    for (uint32_t e = 0; e < n_edges; ++e) {
        if (s.support[e] != 2) continue;
        const CheckEdge& ed = edges[e];
        uint32_t i = s.cursor[ed.a]++;
        s.adj_to[i] = ed.b;
        s.adj_q[i] = ed.q;
        i = s.cursor[ed.b]++;
        s.adj_to[i] = ed.a;
        s.adj_q[i] = ed.q;
    }
}

// Breadth-first forest, the boundary's tree first and then one tree per
// unvisited node in ascending order. Each tree's queue is exactly its stretch
// of `order`, so `order` doubles as the queue.
void build_forest(const CheckGraph& g, const Arrays& s) {
    const auto n_checks = static_cast<uint32_t>(g.n_checks);
    const auto n_nodes = static_cast<uint32_t>(g.n_nodes);
    for (uint32_t n = 0; n < n_nodes; ++n) {
        s.visited[n] = 0;
        s.tparent[n] = n;
        s.tqubit[n] = kNoQubit;
    }
    uint32_t tail = 0;
    auto search_from = [&](uint32_t root) {
        s.visited[root] = 1;
        uint32_t head = tail;
        s.order[tail++] = root;
        while (head < tail) {
            const uint32_t u = s.order[head++];
            for (uint32_t i = s.off[u]; i < s.off[u + 1]; ++i) {
                const uint32_t v = s.adj_to[i];
                if (s.visited[v]) continue;
                s.visited[v] = 1;
                s.tparent[v] = u;
                s.tqubit[v] = s.adj_q[i];
                s.order[tail++] = v;
            }
        }
    };
    search_from(n_checks);
    for (uint32_t n = 0; n < n_nodes; ++n)
        if (!s.visited[n]) search_from(n);
}

// Leaves first: each defect is pushed to its tree parent along the tree edge,
// so a boundary tree absorbs it and any other root keeps it.
void peel(const CheckGraph& g, const Arrays& s, std::span<const uint8_t> syndrome,
          std::span<uint8_t> correction) {
    const auto n_checks = static_cast<uint32_t>(g.n_checks);
    const auto n_nodes = static_cast<uint32_t>(g.n_nodes);
    const size_t n_qubits = g.n_qubits;
    for (uint32_t c = 0; c < n_checks; ++c) s.node_par[c] = syndrome[c] & 1u;
    s.node_par[n_checks] = 0;
    for (uint32_t i = n_nodes; i-- > 0;) {
        const uint32_t v = s.order[i];
        const uint32_t p = s.tparent[v];
        if (p == v || !s.node_par[v]) continue;
        const uint32_t q = s.tqubit[v];
        if (q < n_qubits) correction[q] ^= 1u;
        s.node_par[p] ^= 1u;
        s.node_par[v] = 0;
    }
}

}  // namespace

void decode_into(const CheckGraph& graph, std::span<const uint8_t> syndrome, UfWorkspace& workspace,
                 std::span<uint8_t> correction) {
    const size_t n_nodes = graph.n_nodes;
    const size_t n_edges = graph.edges.size();
    const auto n_checks = static_cast<uint32_t>(graph.n_checks);
    const Arrays s = prepare(workspace, n_nodes, n_edges);
    if (!correction.empty()) std::memset(correction.data(), 0, correction.size());

    for (uint32_t n = 0; n < n_nodes; ++n) {
        s.parent[n] = n;
        s.rnk[n] = 0;
        s.parity[n] = 0;
        s.has_bnd[n] = 0;
    }
    s.has_bnd[n_checks] = 1;
    for (uint32_t c = 0; c < n_checks; ++c) s.parity[c] = syndrome[c] & 1u;
    if (n_edges) std::memset(s.support, 0, n_edges);

    // `visited` is free until the forest is built; it holds the per-round
    // activity flags.
    grow_clusters(graph, s, s.visited);
    build_adjacency(graph, s);
    build_forest(graph, s);
    peel(graph, s, syndrome, correction);
}

namespace {

// Graphs up to this many nodes plus edges keep their scratch on the thread
// between decodes; a larger one takes a fresh workspace, so that one huge
// decode does not pin its memory to the thread for good.
constexpr size_t kKeptWorkspaceSize = size_t{1} << 16;

}  // namespace

void decode_with_scratch(const CheckGraph& graph, std::span<const uint8_t> syndrome, std::span<uint8_t> correction) {
    if (graph.n_nodes + graph.edges.size() <= kKeptWorkspaceSize) {
        thread_local UfWorkspace kept;
        decode_into(graph, syndrome, kept, correction);
    } else {
        UfWorkspace fresh;
        decode_into(graph, syndrome, fresh, correction);
    }
}

std::vector<uint8_t> decode(const CheckGraph& graph, std::span<const uint8_t> syndrome) {
    std::vector<uint8_t> correction(graph.n_qubits, 0);
    decode_with_scratch(graph, syndrome, correction);
    return correction;
}

}  // namespace vornex
