// DetectorGraph: the input of the graph network. One node per check, one
// undirected edge per pair of checks sharing a qubit, and fixed-width node
// and edge feature rows. Only the syndrome-dependent node columns change
// after construction, so one graph serves every syndrome of a code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "base/result.h"
#include "code/check_graph.h"

namespace vornex {

// Optional per-check and per-qubit inputs of a graph.
struct GraphExtras {
    std::optional<std::vector<std::pair<double, double>>> check_positions;
    std::optional<std::vector<bool>> check_types;
    // Indexed by qubit; may be shorter or longer than the qubit count.
    std::optional<std::vector<double>> base_weights;
};

// One adjacency entry: the node at the other end and the edge joining them.
struct GraphNeighbour {
    uint32_t node;
    uint32_t edge;
};

class DetectorGraph {
public:
    static constexpr size_t kNodeFeatureDim = 10;
    static constexpr size_t kEdgeFeatureDim = 8;
    // Node feature columns that depend on the syndrome.
    static constexpr size_t kSyndromeColumn = 3;
    static constexpr size_t kActivityColumn = 8;

    // Builds the graph; ValueError texts for syndrome, position or type lists
    // whose length differs from the number of checks. `n_qubits` defaults to
    // the largest listed index + 1 (1 without checks); larger indices are ignored.
    static Result<DetectorGraph> create(const CheckList& check_to_qubits, std::span<const uint8_t> syndrome,
                                        const GraphExtras& extras = {},
                                        std::optional<uint64_t> n_qubits = std::nullopt);

    // Rewrites the syndrome column and the two-hop activity column; the graph
    // is left unchanged when the length differs from n_nodes.
    Status update_syndrome(std::span<const uint8_t> syndrome);

    size_t n_nodes() const { return n_nodes_; }
    size_t n_edges() const { return edge_src_.size(); }
    size_t node_feature_dim() const { return kNodeFeatureDim; }
    size_t edge_feature_dim() const { return kEdgeFeatureDim; }

    // Row-major feature tables: n_nodes x 10 and n_edges x 8.
    std::span<const double> node_features() const { return node_features_; }
    std::span<const double> edge_features() const { return edge_features_; }
    std::span<const double> node_feature(size_t v) const {
        return std::span<const double>(node_features_).subspan(v * kNodeFeatureDim, kNodeFeatureDim);
    }
    std::span<const double> edge_feature(size_t k) const {
        return std::span<const double>(edge_features_).subspan(k * kEdgeFeatureDim, kEdgeFeatureDim);
    }

    const std::vector<uint32_t>& edge_src() const { return edge_src_; }
    const std::vector<uint32_t>& edge_dst() const { return edge_dst_; }
    const std::vector<uint32_t>& edge_qubit_id() const { return edge_qubit_id_; }

    // Adjacency of node v in edge order; a self-edge is listed twice.
    std::span<const GraphNeighbour> neighbours(size_t v) const {
        return std::span<const GraphNeighbour>(adjacency_).subspan(adjacency_start_[v],
                                                                  adjacency_start_[v + 1] - adjacency_start_[v]);
    }
    size_t degree(size_t v) const { return adjacency_start_[v + 1] - adjacency_start_[v]; }

    // Node features as rows, for the Python getters.
    std::vector<std::vector<double>> node_feature_rows() const;
    std::vector<std::vector<double>> edge_feature_rows() const;

    // One listed occurrence of a qubit: the check it sits in, in scan order.
    struct Occurrence {
        uint64_t qubit;
        uint32_t check;
    };

private:
    // Construction steps, in order. Adds every edge (each pair of a qubit's
    // checks) and returns which checks hold a qubit of their own (boundary).
    std::vector<uint8_t> add_edges(const std::vector<Occurrence>& occurrences, uint64_t n_edges);
    void build_adjacency();
    void write_node_features(const GraphExtras& extras, const std::vector<uint64_t>& boundary_distance,
                             const std::vector<uint8_t>& boundary);
    void write_edge_features(const GraphExtras& extras);

    // Number of nodes within two hops (itself included) whose syndrome is exactly 1.
    void compute_activity(std::span<const uint8_t> syndrome, std::vector<uint32_t>& activity) const;
    void write_activity(std::span<const uint8_t> syndrome);

    size_t n_nodes_ = 0;
    std::vector<uint32_t> edge_src_;
    std::vector<uint32_t> edge_dst_;
    std::vector<uint32_t> edge_qubit_id_;
    std::vector<size_t> adjacency_start_;  // n_nodes + 1 offsets into adjacency_
    std::vector<GraphNeighbour> adjacency_;
    std::vector<double> node_features_;
    std::vector<double> edge_features_;
};

}  // namespace vornex
