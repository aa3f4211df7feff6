#include "matching/graphlike_gf2.h"

#include <array>
#include <numeric>

namespace vornex {
namespace {

// The checks of each qubit with odd multiplicity, at most two, as edges;
// nullopt when some qubit has three or more.
std::optional<std::vector<CheckEdge>> qubit_edges(const CheckList& check_to_qubits, size_t n_qubits) {
    const uint32_t boundary = static_cast<uint32_t>(check_to_qubits.size());
    // A check's repeats of a qubit arrive together, so a repeat can only
    // cancel the last check recorded for that qubit. Three slots hold a
    // third check that its own later repeat may still cancel.
    std::vector<std::array<uint32_t, 3>> slots(n_qubits);
    std::vector<uint8_t> count(n_qubits, 0);
    for (uint32_t c = 0; c < check_to_qubits.size(); ++c) {
        for (uint32_t q : check_to_qubits[c]) {
            if (q >= n_qubits) continue;
            if (count[q] > 0 && slots[q][count[q] - 1] == c) {
                --count[q];
            } else if (count[q] == 3) {
                return std::nullopt;  // a fourth check: three of them are final
            } else {
                slots[q][count[q]++] = c;
            }
        }
    }
    std::vector<CheckEdge> edges(n_qubits);
    for (uint32_t q = 0; q < n_qubits; ++q) {
        if (count[q] == 3) return std::nullopt;
        const uint32_t a = count[q] > 0 ? slots[q][0] : kNoIndex;
        const uint32_t b = count[q] > 1 ? slots[q][1] : count[q] == 1 ? boundary : kNoIndex;
        edges[q] = {a, b, q};
    }
    return edges;
}

class DisjointSets {
public:
    explicit DisjointSets(size_t n) : parent_(n) { std::iota(parent_.begin(), parent_.end(), uint32_t{0}); }
    uint32_t find(uint32_t x) {
        while (parent_[x] != x) x = parent_[x] = parent_[parent_[x]];
        return x;
    }
    // False when a and b were already joined.
    bool join(uint32_t a, uint32_t b) {
        a = find(a);
        b = find(b);
        if (a == b) return false;
        parent_[b] = a;
        return true;
    }

private:
    std::vector<uint32_t> parent_;
};

struct ForestArc {
    uint32_t node;
    uint32_t qubit;
};

// Kruskal's forest in qubit order, as adjacency runs over checks + boundary.
struct Forest {
    std::vector<uint32_t> begin;  // n_nodes + 1 offsets into arcs
    std::vector<ForestArc> arcs;

    Forest(const std::vector<CheckEdge>& edges, size_t n_nodes) : begin(n_nodes + 1, 0) {
        DisjointSets sets(n_nodes);
        std::vector<uint32_t> kept;
        for (const CheckEdge& e : edges) {
            if (e.a == kNoIndex) continue;  // touches no check
            if (!sets.join(e.a, e.b)) continue;
            kept.push_back(e.q);
            ++begin[e.a + 1];
            ++begin[e.b + 1];
        }
        for (size_t n = 0; n < n_nodes; ++n) begin[n + 1] += begin[n];
        arcs.resize(begin[n_nodes]);
        std::vector<uint32_t> fill(begin.begin(), begin.end() - 1);
        for (uint32_t q : kept) {
            const CheckEdge& e = edges[q];
            arcs[fill[e.a]++] = {e.b, q};
            arcs[fill[e.b]++] = {e.a, q};
        }
    }
};

}  // namespace

GraphlikeSolve solve_gf2_graphlike(const CheckList& check_to_qubits, size_t n_qubits,
                                   std::span<const uint8_t> syndrome) {
    auto edges = qubit_edges(check_to_qubits, n_qubits);
    if (!edges) return {};
    const size_t n_checks = check_to_qubits.size();
    const size_t n_nodes = n_checks + 1;
    const uint32_t boundary = static_cast<uint32_t>(n_checks);
    const Forest forest(*edges, n_nodes);

    // Breadth-first order per tree, the boundary's tree first so that it is
    // that tree's root; every other node records the arc to its parent.
    std::vector<uint32_t> order;
    order.reserve(n_nodes);
    std::vector<uint32_t> up_node(n_nodes, kNoIndex), up_qubit(n_nodes, kNoIndex);
    std::vector<uint8_t> placed(n_nodes, 0);
    std::vector<uint32_t> roots;
    const auto grow_tree = [&](uint32_t root) {
        roots.push_back(root);
        placed[root] = 1;
        size_t head = order.size();
        order.push_back(root);
        for (; head < order.size(); ++head) {
            const uint32_t u = order[head];
            for (uint32_t k = forest.begin[u]; k < forest.begin[u + 1]; ++k) {
                const ForestArc& arc = forest.arcs[k];
                if (placed[arc.node]) continue;
                placed[arc.node] = 1;
                up_node[arc.node] = u;
                up_qubit[arc.node] = arc.qubit;
                order.push_back(arc.node);
            }
        }
    };
    grow_tree(boundary);
    for (uint32_t c = 0; c < n_checks; ++c)
        if (!placed[c]) grow_tree(c);

    // Leaves first: the edge above a node carries its subtree's parity.
    std::vector<uint8_t> parity(n_nodes, 0);
    for (size_t c = 0; c < n_checks; ++c) parity[c] = syndrome[c] & 1;
    GraphlikeSolve solve{true, std::vector<uint8_t>(n_qubits, 0)};
    std::vector<uint8_t>& x = *solve.x;
    for (size_t k = order.size(); k-- > 0;) {
        const uint32_t u = order[k];
        if (up_node[u] == kNoIndex) continue;
        x[up_qubit[u]] = parity[u];
        parity[up_node[u]] ^= parity[u];
    }
    for (uint32_t root : roots) {
        if (root != boundary && parity[root]) solve.x.reset();
    }
    return solve;
}

}  // namespace vornex
