#include "learned/gnn_graph.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <string>

#include "learned/gnn_layers.h"

namespace vornex {
namespace {

// Largest value of a set, NaN entries skipped, never below 1.
struct Normaliser {
    double value = 0.0;
    void add(double v) {
        if (!std::isnan(v) && v > value) value = v;
    }
    double get() const { return std::max(value, 1.0); }
};

// One listed occurrence of a qubit: the check it sits in, in scan order.
struct Occurrence {
    uint64_t qubit;
    uint32_t check;
};

std::string length_error(const char* what, size_t got, const char* bound, size_t expected) {
    return std::string(what) + " length " + std::to_string(got) + " != " + bound + " " + std::to_string(expected);
}

}  // namespace

Result<DetectorGraph> DetectorGraph::create(const CheckList& checks, std::span<const uint8_t> syndrome,
                                            const GraphExtras& extras, std::optional<uint64_t> n_qubits_arg) {
    const size_t n_checks = checks.size();
    if (syndrome.size() != n_checks) return value_error(length_error("syndrome", syndrome.size(), "n_checks", n_checks));
    const auto& positions = extras.check_positions;
    const auto& types = extras.check_types;
    if (positions && positions->size() != n_checks)
        return value_error(length_error("check_positions", positions->size(), "n_checks", n_checks));
    if (types && types->size() != n_checks)
        return value_error(length_error("check_types", types->size(), "n_checks", n_checks));
    // Node and edge ids are 32-bit throughout the network.
    if (n_checks >= std::numeric_limits<uint32_t>::max())
        return value_error("n_checks " + std::to_string(n_checks) + " exceeds the 32-bit node id range");

    const uint64_t n_qubits = n_qubits_arg ? *n_qubits_arg : derived_n_qubits(checks);

    // Occurrences grouped by qubit (stable, so each group keeps scan order).
    // Sorting the listed occurrences instead of keeping one list per qubit
    // keeps memory proportional to the code, whatever n_qubits says.
    std::vector<Occurrence> occurrences;
    for (size_t c = 0; c < n_checks; ++c)
        for (uint32_t q : checks[c])
            if (q < n_qubits) occurrences.push_back({q, static_cast<uint32_t>(c)});
    std::stable_sort(occurrences.begin(), occurrences.end(),
                     [](const Occurrence& x, const Occurrence& y) { return x.qubit < y.qubit; });

    // Every pair of a qubit's checks is an edge, so a qubit listed in many
    // checks multiplies edges: count them before building any.
    uint64_t n_edges_total = 0;
    for (size_t begin = 0; begin < occurrences.size();) {
        size_t end = begin;
        while (end < occurrences.size() && occurrences[end].qubit == occurrences[begin].qubit) ++end;
        const uint64_t l = end - begin;
        if (__builtin_add_overflow(n_edges_total, l * (l - 1) / 2, &n_edges_total)) n_edges_total = UINT64_MAX;
        begin = end;
    }
    if (n_edges_total >= std::numeric_limits<uint32_t>::max())
        return value_error("n_edges " + std::to_string(n_edges_total) + " exceeds the 32-bit edge id range");
    // Per edge: endpoints, qubit, two adjacency entries, features, span.
    constexpr double kEdgeBytes =
        3 * sizeof(uint32_t) + 2 * sizeof(GraphNeighbour) + (kEdgeFeatureDim + 1) * sizeof(double);
    if (!fits_in_memory(static_cast<double>(n_edges_total) * kEdgeBytes)) throw std::bad_alloc();

    DetectorGraph g;
    g.n_nodes_ = n_checks;
    g.edge_src_.reserve(n_edges_total);
    g.edge_dst_.reserve(n_edges_total);
    g.edge_qubit_id_.reserve(n_edges_total);
    std::vector<uint8_t> boundary(n_checks, 0);
    for (size_t begin = 0; begin < occurrences.size();) {
        size_t end = begin;
        while (end < occurrences.size() && occurrences[end].qubit == occurrences[begin].qubit) ++end;
        if (end - begin == 1) boundary[occurrences[begin].check] = 1;
        for (size_t a = begin; a < end; ++a)
            for (size_t b = a + 1; b < end; ++b) {
                g.edge_src_.push_back(occurrences[a].check);
                g.edge_dst_.push_back(occurrences[b].check);
                g.edge_qubit_id_.push_back(static_cast<uint32_t>(occurrences[a].qubit));
            }
        begin = end;
    }
    const size_t n_edges = g.edge_src_.size();

    // Adjacency in edge order: each edge appears at its source, then at its target.
    g.adjacency_start_.assign(n_checks + 1, 0);
    for (size_t k = 0; k < n_edges; ++k) {
        ++g.adjacency_start_[g.edge_src_[k] + 1];
        ++g.adjacency_start_[g.edge_dst_[k] + 1];
    }
    for (size_t v = 0; v < n_checks; ++v) g.adjacency_start_[v + 1] += g.adjacency_start_[v];
    g.adjacency_.resize(2 * n_edges);
    {
        std::vector<size_t> fill(g.adjacency_start_.begin(), g.adjacency_start_.end() - 1);
        for (size_t k = 0; k < n_edges; ++k) {
            const uint32_t s = g.edge_src_[k], d = g.edge_dst_[k];
            g.adjacency_[fill[s]++] = {d, static_cast<uint32_t>(k)};
            g.adjacency_[fill[d]++] = {s, static_cast<uint32_t>(k)};
        }
    }

    // Hop distance to the nearest boundary check (multi-source breadth-first
    // search); nodes that reach none get n_checks.
    const uint64_t unreached = std::numeric_limits<uint64_t>::max();
    std::vector<uint64_t> distance(n_checks, unreached);
    std::vector<uint32_t> queue;
    queue.reserve(n_checks);
    for (size_t v = 0; v < n_checks; ++v)
        if (boundary[v]) {
            distance[v] = 0;
            queue.push_back(static_cast<uint32_t>(v));
        }
    for (size_t head = 0; head < queue.size(); ++head) {
        const uint32_t v = queue[head];
        for (const GraphNeighbour& n : g.neighbours(v))
            if (distance[n.node] == unreached) {
                distance[n.node] = distance[v] + 1;
                queue.push_back(n.node);
            }
    }
    for (auto& d : distance)
        if (d == unreached) d = n_checks;

    Normaliser max_degree, max_distance, max_x, max_y;
    for (size_t v = 0; v < n_checks; ++v) {
        max_degree.add(static_cast<double>(g.degree(v)));
        max_distance.add(static_cast<double>(distance[v]));
    }
    if (positions) {
        for (const auto& [x, y] : *positions) {
            max_x.add(x);
            max_y.add(y);
        }
    } else {
        max_x.add(static_cast<double>(n_checks));
    }

    g.node_features_.assign(n_checks * kNodeFeatureDim, 0.0);
    for (size_t v = 0; v < n_checks; ++v) {
        double* row = g.node_features_.data() + v * kNodeFeatureDim;
        if (positions) {
            row[0] = (*positions)[v].first / max_x.get();
            row[1] = (*positions)[v].second / max_y.get();
        } else {
            row[0] = static_cast<double>(v) / max_x.get();
        }
        row[4] = (!types || (*types)[v]) ? 1.0 : 0.0;
        row[5] = (types && !(*types)[v]) ? 1.0 : 0.0;
        row[6] = boundary[v] ? 1.0 : 0.0;
        row[7] = static_cast<double>(g.degree(v)) / max_degree.get();
        row[9] = static_cast<double>(distance[v]) / max_distance.get();
    }
    g.write_activity(syndrome);

    // Edge features: base weight and the Manhattan distance of the two checks.
    auto position = [&](uint32_t c) {
        return positions ? (*positions)[c] : std::pair<double, double>(static_cast<double>(c), 0.0);
    };
    std::vector<double> span_length(n_edges);
    Normaliser max_span;
    for (size_t k = 0; k < n_edges; ++k) {
        const auto [xe, ye] = position(g.edge_src_[k]);
        const auto [xf, yf] = position(g.edge_dst_[k]);
        span_length[k] = std::abs(ye - yf) + std::abs(xe - xf);
        max_span.add(span_length[k]);
    }
    const auto& base = extras.base_weights;
    g.edge_features_.assign(n_edges * kEdgeFeatureDim, 0.0);
    for (size_t k = 0; k < n_edges; ++k) {
        double* row = g.edge_features_.data() + k * kEdgeFeatureDim;
        const uint32_t q = g.edge_qubit_id_[k];
        const auto [xe, ye] = position(g.edge_src_[k]);
        const auto [xf, yf] = position(g.edge_dst_[k]);
        row[0] = (base && q < base->size()) ? (*base)[q] : 1.0;
        row[1] = span_length[k] / max_span.get();
        row[2] = ye == yf ? 1.0 : 0.0;
        row[3] = xe == xf ? 1.0 : 0.0;
        row[4] = 1.0;
    }
    return g;
}

void DetectorGraph::compute_activity(std::span<const uint8_t> syndrome, std::vector<uint32_t>& activity) const {
    // stamp[u] == v + 1 marks u as already counted for node v.
    std::vector<uint32_t> stamp(n_nodes_, 0);
    activity.assign(n_nodes_, 0);
    for (size_t v = 0; v < n_nodes_; ++v) {
        const uint32_t mark = static_cast<uint32_t>(v) + 1;
        uint32_t count = 0;
        auto visit = [&](uint32_t u) {
            if (stamp[u] == mark) return;
            stamp[u] = mark;
            if (syndrome[u] == 1) ++count;
        };
        visit(static_cast<uint32_t>(v));
        for (const GraphNeighbour& n1 : neighbours(v)) {
            visit(n1.node);
            for (const GraphNeighbour& n2 : neighbours(n1.node)) visit(n2.node);
        }
        activity[v] = count;
    }
}

void DetectorGraph::write_activity(std::span<const uint8_t> syndrome) {
    std::vector<uint32_t> activity;
    compute_activity(syndrome, activity);
    Normaliser max_activity;
    for (uint32_t a : activity) max_activity.add(static_cast<double>(a));
    for (size_t v = 0; v < n_nodes_; ++v) {
        double* row = node_features_.data() + v * kNodeFeatureDim;
        row[kSyndromeColumn] = static_cast<double>(syndrome[v]);
        row[kActivityColumn] = static_cast<double>(activity[v]) / max_activity.get();
    }
}

Status DetectorGraph::update_syndrome(std::span<const uint8_t> syndrome) {
    if (syndrome.size() != n_nodes_) return value_error(length_error("syndrome", syndrome.size(), "n_nodes", n_nodes_));
    write_activity(syndrome);
    return ok_status();
}

std::vector<std::vector<double>> DetectorGraph::node_feature_rows() const {
    std::vector<std::vector<double>> rows(n_nodes_);
    for (size_t v = 0; v < n_nodes_; ++v) rows[v].assign(node_feature(v).begin(), node_feature(v).end());
    return rows;
}

std::vector<std::vector<double>> DetectorGraph::edge_feature_rows() const {
    std::vector<std::vector<double>> rows(n_edges());
    for (size_t k = 0; k < n_edges(); ++k) rows[k].assign(edge_feature(k).begin(), edge_feature(k).end());
    return rows;
}

}  // namespace vornex
