#include "matching/sparse/matching_graph.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace vornex::sparse {

namespace {

// Both half-edges of an accepted edge, sorted by (from, to) so that the rows
// and the parallel-edge merge fall out of one pass.
struct HalfEdge {
    NodeId from;
    NodeId to;
    uint32_t order;  // position of the edge in the input, for stable merging
    int64_t weight;
    ObsMask observables;
    uint32_t id;
};

}  // namespace

Result<MatchingGraph> build_matching_graph(uint32_t n_nodes, std::span<const GraphEdge> edges) {
    if (n_nodes >= kBoundary) return value_error("n_nodes " + std::to_string(n_nodes) + " exceeds the 32-bit id range");
    std::vector<HalfEdge> halves;
    halves.reserve(edges.size() * 2);
    for (size_t k = 0; k < edges.size(); ++k) {
        const GraphEdge& e = edges[k];
        const bool boundary = e.v == kBoundary;
        if (e.u >= n_nodes || (!boundary && e.v >= n_nodes)) {
            return value_error("edge " + std::to_string(k) + " joins node " + std::to_string(e.u) + " and " +
                               (boundary ? std::string("the boundary") : "node " + std::to_string(e.v)) +
                               ", but the graph has " + std::to_string(n_nodes) + " nodes");
        }
        if (e.weight < 0 || e.weight > kMaxEdgeWeight) {
            return value_error("edge " + std::to_string(k) + " has weight " + std::to_string(e.weight) + "; weights must lie in 0.." +
                               std::to_string(kMaxEdgeWeight));
        }
        if (e.u == e.v) continue;
        const auto order = static_cast<uint32_t>(k);
        halves.push_back({e.u, e.v, order, e.weight, e.observables, e.id});
        if (!boundary) halves.push_back({e.v, e.u, order, e.weight, e.observables, e.id});
    }
    std::sort(halves.begin(), halves.end(), [](const HalfEdge& a, const HalfEdge& b) {
        if (a.from != b.from) return a.from < b.from;
        if (a.to != b.to) return a.to < b.to;
        if (a.weight != b.weight) return a.weight < b.weight;
        return a.order < b.order;
    });

    MatchingGraph g;
    g.n_nodes = n_nodes;
    g.row_begin.assign(size_t{n_nodes} + 1, 0);
    for (size_t k = 0; k < halves.size(); ++k) {
        const HalfEdge& h = halves[k];
        if (k > 0 && halves[k - 1].from == h.from && halves[k - 1].to == h.to) continue;  // heavier parallel edge
        g.neighbour.push_back(h.to);
        g.weight.push_back(2 * h.weight);
        g.observables.push_back(h.observables);
        g.edge_id.push_back(h.id);
        g.row_begin[size_t{h.from} + 1] += 1;
        g.has_boundary = g.has_boundary || h.to == kBoundary;
    }
    for (size_t i = 0; i < n_nodes; ++i) g.row_begin[i + 1] += g.row_begin[i];
    return g;
}

Result<std::vector<int64_t>> discretise_weights(std::span<const double> weights) {
    std::vector<int64_t> out(weights.size());
    if (auto status = discretise_weights_into(weights, out); !status) return status.error();
    return out;
}

Status discretise_weights_into(std::span<const double> weights, std::span<int64_t> out) {
    double top = 0;
    for (size_t k = 0; k < weights.size(); ++k) {
        if (!std::isfinite(weights[k]) || weights[k] < 0) {
            return value_error("weight " + std::to_string(k) + " is " + std::to_string(weights[k]) + "; weights must be finite and >= 0");
        }
        top = std::max(top, weights[k]);
    }
    const bool all_equal = std::all_of(weights.begin(), weights.end(), [&](double w) { return w == top; });
    if (all_equal) {
        std::fill(out.begin(), out.end(), int64_t{1});
        return ok_status();
    }
    const double scale = static_cast<double>(kDiscreteWeightScale) / top;
    for (size_t k = 0; k < weights.size(); ++k) out[k] = std::llround(weights[k] * scale);
    return ok_status();
}

Result<MatchingGraph> matching_graph_from_checks(const CheckList& check_to_qubits, size_t n_qubits,
                                                 std::span<const int64_t> weights) {
    if (n_qubits >= kBoundary) return value_error("n_qubits " + std::to_string(n_qubits) + " exceeds the 32-bit index range");
    if (check_to_qubits.size() >= kBoundary) {
        return value_error(std::to_string(check_to_qubits.size()) + " checks exceed the 32-bit index range");
    }
    if (!weights.empty() && weights.size() != n_qubits) {
        return value_error("weights has " + std::to_string(weights.size()) + " entries, expected n_qubits = " + std::to_string(n_qubits));
    }
    // Checks each qubit flips, by parity of its occurrences; at most two kept.
    std::vector<uint32_t> first(n_qubits, kNone), second(n_qubits, kNone);
    std::vector<uint8_t> extra(n_qubits, 0);
    for (uint32_t c = 0; c < check_to_qubits.size(); ++c) {
        for (const uint32_t q : check_to_qubits[c]) {
            if (q >= n_qubits) return value_error("check " + std::to_string(c) + " names qubit " + std::to_string(q) + ", but n_qubits is " + std::to_string(n_qubits));
        }
    }
    std::vector<uint32_t> seen_in(n_qubits, kNone);
    std::vector<uint8_t> parity(n_qubits, 0);
    for (uint32_t c = 0; c < check_to_qubits.size(); ++c) {
        for (const uint32_t q : check_to_qubits[c]) parity[q] ^= 1;
        for (const uint32_t q : check_to_qubits[c]) {
            if (!parity[q] || seen_in[q] == c) continue;
            seen_in[q] = c;
            if (first[q] == kNone) {
                first[q] = c;
            } else if (second[q] == kNone) {
                second[q] = c;
            } else {
                extra[q] = 1;
            }
        }
        for (const uint32_t q : check_to_qubits[c]) parity[q] = 0;
    }
    std::vector<GraphEdge> edges;
    for (uint32_t q = 0; q < n_qubits; ++q) {
        if (extra[q]) return value_error("qubit " + std::to_string(q) + " flips more than two checks; matching needs at most two");
        if (first[q] == kNone) continue;
        const int64_t w = weights.empty() ? 1 : weights[q];
        edges.push_back({first[q], second[q] == kNone ? kBoundary : second[q], w, 0, q});
    }
    return build_matching_graph(static_cast<uint32_t>(check_to_qubits.size()), edges);
}

}  // namespace vornex::sparse
