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

using Occurrence = DetectorGraph::Occurrence;

std::string length_error(const char* what, size_t got, const char* bound, size_t expected) {
    return std::string(what) + " length " + std::to_string(got) + " != " + bound + " " + std::to_string(expected);
}

Status check_lengths(size_t n_checks, std::span<const uint8_t> syndrome, const GraphExtras& extras) {
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
    return ok_status();
}

// Occurrences of the qubits below n_qubits, grouped by qubit (stable, so each
// group keeps scan order). Sorting the listed occurrences instead of keeping
// one list per qubit keeps memory proportional to the code, whatever
// n_qubits says.
std::vector<Occurrence> occurrences_by_qubit(const CheckList& checks, uint64_t n_qubits) {
    std::vector<Occurrence> occurrences;
    for (size_t c = 0; c < checks.size(); ++c)
        for (uint32_t q : checks[c])
            if (q < n_qubits) occurrences.push_back({q, static_cast<uint32_t>(c)});
    std::stable_sort(occurrences.begin(), occurrences.end(),
                     [](const Occurrence& x, const Occurrence& y) { return x.qubit < y.qubit; });
    return occurrences;
}

// Calls visit(begin, end) for each qubit's run of occurrences.
template <class Visit>
void for_each_qubit(const std::vector<Occurrence>& occurrences, Visit&& visit) {
    for (size_t begin = 0; begin < occurrences.size();) {
        size_t end = begin;
        while (end < occurrences.size() && occurrences[end].qubit == occurrences[begin].qubit) ++end;
        visit(begin, end);
        begin = end;
    }
}

// Every pair of a qubit's checks is an edge, so a qubit listed in many
// checks multiplies edges: they are counted, and refused when they cannot be
// numbered or held, before any is built.
Result<uint64_t> counted_edges(const std::vector<Occurrence>& occurrences) {
    uint64_t n_edges = 0;
    for_each_qubit(occurrences, [&](size_t begin, size_t end) {
        const uint64_t l = end - begin;
        if (__builtin_add_overflow(n_edges, l * (l - 1) / 2, &n_edges)) n_edges = UINT64_MAX;
    });
    if (n_edges >= std::numeric_limits<uint32_t>::max())
        return value_error("n_edges " + std::to_string(n_edges) + " exceeds the 32-bit edge id range");
    // Per edge: endpoints, qubit, two adjacency entries, features, span.
    constexpr double kEdgeBytes = 3 * sizeof(uint32_t) + 2 * sizeof(GraphNeighbour) +
                                  (DetectorGraph::kEdgeFeatureDim + 1) * sizeof(double);
    if (!fits_in_memory(static_cast<double>(n_edges) * kEdgeBytes)) throw std::bad_alloc();
    return n_edges;
}

// Hop distance from each node to the nearest boundary check (multi-source
// breadth-first search); nodes that reach none get n_nodes.
std::vector<uint64_t> boundary_distances(const DetectorGraph& g, const std::vector<uint8_t>& boundary) {
    const size_t n_nodes = g.n_nodes();
    const uint64_t unreached = std::numeric_limits<uint64_t>::max();
    std::vector<uint64_t> distance(n_nodes, unreached);
    std::vector<uint32_t> queue;
    queue.reserve(n_nodes);
    for (size_t v = 0; v < n_nodes; ++v)
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
        if (d == unreached) d = n_nodes;
    return distance;
}

// A check's position: the given one, or (index, 0) without positions.
std::pair<double, double> check_position(const GraphExtras& extras, uint32_t check) {
    return extras.check_positions ? (*extras.check_positions)[check]
                                  : std::pair<double, double>(static_cast<double>(check), 0.0);
}

}  // namespace

Result<DetectorGraph> DetectorGraph::create(const CheckList& checks, std::span<const uint8_t> syndrome,
                                            const GraphExtras& extras, std::optional<uint64_t> n_qubits_arg) {
    if (auto lengths = check_lengths(checks.size(), syndrome, extras); !lengths) return lengths.error();
    const uint64_t n_qubits = n_qubits_arg ? *n_qubits_arg : derived_n_qubits(checks);
    const std::vector<Occurrence> occurrences = occurrences_by_qubit(checks, n_qubits);
    auto n_edges = counted_edges(occurrences);
    if (!n_edges) return n_edges.error();

    DetectorGraph g;
    g.n_nodes_ = checks.size();
    const std::vector<uint8_t> boundary = g.add_edges(occurrences, n_edges.value());
    g.build_adjacency();
    g.write_node_features(extras, boundary_distances(g, boundary), boundary);
    g.write_activity(syndrome);
    g.write_edge_features(extras);
    return g;
}

std::vector<uint8_t> DetectorGraph::add_edges(const std::vector<Occurrence>& occurrences, uint64_t n_edges) {
    edge_src_.reserve(n_edges);
    edge_dst_.reserve(n_edges);
    edge_qubit_id_.reserve(n_edges);
    std::vector<uint8_t> boundary(n_nodes_, 0);
    for_each_qubit(occurrences, [&](size_t begin, size_t end) {
        if (end - begin == 1) boundary[occurrences[begin].check] = 1;
        for (size_t a = begin; a < end; ++a)
            for (size_t b = a + 1; b < end; ++b) {
                edge_src_.push_back(occurrences[a].check);
                edge_dst_.push_back(occurrences[b].check);
                edge_qubit_id_.push_back(static_cast<uint32_t>(occurrences[a].qubit));
            }
    });
    return boundary;
}

void DetectorGraph::build_adjacency() {
    const size_t n_edges = edge_src_.size();
    // Adjacency in edge order: each edge appears at its source, then at its target.
    adjacency_start_.assign(n_nodes_ + 1, 0);
    for (size_t k = 0; k < n_edges; ++k) {
        ++adjacency_start_[edge_src_[k] + 1];
        ++adjacency_start_[edge_dst_[k] + 1];
    }
    for (size_t v = 0; v < n_nodes_; ++v) adjacency_start_[v + 1] += adjacency_start_[v];
    adjacency_.resize(2 * n_edges);
    std::vector<size_t> fill(adjacency_start_.begin(), adjacency_start_.end() - 1);
    for (size_t k = 0; k < n_edges; ++k) {
        const uint32_t s = edge_src_[k], d = edge_dst_[k];
        adjacency_[fill[s]++] = {d, static_cast<uint32_t>(k)};
        adjacency_[fill[d]++] = {s, static_cast<uint32_t>(k)};
    }
}

void DetectorGraph::write_node_features(const GraphExtras& extras, const std::vector<uint64_t>& distance,
                                        const std::vector<uint8_t>& boundary) {
    const auto& positions = extras.check_positions;
    const auto& types = extras.check_types;
    Normaliser max_degree, max_distance, max_x, max_y;
    for (size_t v = 0; v < n_nodes_; ++v) {
        max_degree.add(static_cast<double>(degree(v)));
        max_distance.add(static_cast<double>(distance[v]));
    }
    if (positions) {
        for (const auto& [x, y] : *positions) {
            max_x.add(x);
            max_y.add(y);
        }
    } else {
        max_x.add(static_cast<double>(n_nodes_));
    }

    node_features_.assign(n_nodes_ * kNodeFeatureDim, 0.0);
    for (size_t v = 0; v < n_nodes_; ++v) {
        double* row = node_features_.data() + v * kNodeFeatureDim;
        if (positions) {
            row[0] = (*positions)[v].first / max_x.get();
            row[1] = (*positions)[v].second / max_y.get();
        } else {
            row[0] = static_cast<double>(v) / max_x.get();
        }
        row[4] = (!types || (*types)[v]) ? 1.0 : 0.0;
        row[5] = (types && !(*types)[v]) ? 1.0 : 0.0;
        row[6] = boundary[v] ? 1.0 : 0.0;
        row[7] = static_cast<double>(degree(v)) / max_degree.get();
        row[9] = static_cast<double>(distance[v]) / max_distance.get();
    }
}

// Base weight and the Manhattan distance of the two checks, with whether
// they share a row or a column.
void DetectorGraph::write_edge_features(const GraphExtras& extras) {
    const size_t n_edges = edge_src_.size();
    std::vector<double> span_length(n_edges);
    Normaliser max_span;
    for (size_t k = 0; k < n_edges; ++k) {
        const auto [xe, ye] = check_position(extras, edge_src_[k]);
        const auto [xf, yf] = check_position(extras, edge_dst_[k]);
        span_length[k] = std::abs(ye - yf) + std::abs(xe - xf);
        max_span.add(span_length[k]);
    }
    const auto& base = extras.base_weights;
    edge_features_.assign(n_edges * kEdgeFeatureDim, 0.0);
    for (size_t k = 0; k < n_edges; ++k) {
        double* row = edge_features_.data() + k * kEdgeFeatureDim;
        const uint32_t q = edge_qubit_id_[k];
        const auto [xe, ye] = check_position(extras, edge_src_[k]);
        const auto [xf, yf] = check_position(extras, edge_dst_[k]);
        row[0] = (base && q < base->size()) ? (*base)[q] : 1.0;
        row[1] = span_length[k] / max_span.get();
        row[2] = ye == yf ? 1.0 : 0.0;
        row[3] = xe == xf ? 1.0 : 0.0;
        row[4] = 1.0;
    }
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
