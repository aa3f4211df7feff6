// Graph network plus sparse matching: the network predicts one weight per
// detector-graph edge and the matching decoder runs with those weights keyed
// by qubit. A fixed heuristic weighting and the plain matching decode share
// the same matching decoder for comparison.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "base/result.h"
#include "code/check_graph.h"
#include "learned/gnn_graph.h"
#include "learned/gnn_predecoder.h"
#include "matching/sparse_blossom.h"

namespace vornex {

inline constexpr size_t kHybridDefaultHidden = 64;
inline constexpr size_t kHybridDefaultLayers = 3;

class HybridDecoder {
public:
    // n_qubits defaults to the largest listed index + 1 (1 without any); the
    // network gets 10 node and 8 edge features and weights drawn from `seed`
    // (thread-seeded without one).
    // Fails when the qubits it declares would not fit the memory budget.
    static Result<HybridDecoder> create(CheckList check_to_qubits, std::optional<size_t> n_qubits, GraphExtras extras,
                                        std::optional<size_t> hidden_size, std::optional<size_t> n_layers,
                                        std::optional<uint64_t> seed = std::nullopt);
    // Same with a given network.
    static Result<HybridDecoder> create(CheckList check_to_qubits, std::optional<size_t> n_qubits, GraphExtras extras,
                                        GNNPredecoder network);

    size_t n_qubits() const { return n_qubits_; }
    size_t n_checks() const { return check_to_qubits_.size(); }
    const GNNPredecoder& network() const { return network_; }
    GNNPredecoder& network() { return network_; }
    bool has_graph_cache() const { return graph_.has_value(); }

    // "Syndrome length {} != n_checks {}" unless the lengths agree.
    Status check_syndrome_length(size_t length) const;

    Result<std::vector<uint8_t>> decode_hybrid(std::span<const uint8_t> syndrome);
    Result<std::vector<uint8_t>> decode_heuristic(std::span<const uint8_t> syndrome);
    Result<std::vector<uint8_t>> decode_standard(std::span<const uint8_t> syndrome);

    // Rows of n_checks bytes, decoded one after another into (n_shots, n_qubits).
    Result<std::vector<uint8_t>> batch_decode_hybrid(std::span<const uint8_t> syndromes, size_t n_shots);
    Result<std::vector<uint8_t>> batch_decode_standard(std::span<const uint8_t> syndromes, size_t n_shots);

    // The trainer's operations on the internal network, with samples of this
    // code at `error_rate` (graphs without positions, types or base weights).
    Result<double> train(uint64_t n_samples, uint64_t n_epochs, double error_rate,
                         ProgressSink* progress = nullptr);
    Result<double> train_bp(uint64_t n_samples, uint64_t n_epochs, double error_rate, uint64_t max_bp_iter,
                            ProgressSink* progress = nullptr);

    Status save_weights(const std::string& path) const { return network_.save_weights(path); }
    Status load_weights(const std::string& path) { return network_.load_weights(path); }

private:
    HybridDecoder(CheckList check_to_qubits, size_t n_qubits, GraphExtras extras, GNNPredecoder network,
                  SparseBlossomDecoder sparse);

    // The detector graph of `syndrome`: built on first use, then the same
    // graph with its syndrome columns rewritten.
    Result<const DetectorGraph*> graph_for(std::span<const uint8_t> syndrome);

    template <class Decode>
    Result<std::vector<uint8_t>> batch(std::span<const uint8_t> syndromes, size_t n_shots, Decode decode);

    CheckList check_to_qubits_;
    size_t n_qubits_;
    GraphExtras extras_;
    GNNPredecoder network_;
    SparseBlossomDecoder sparse_;
    std::vector<std::vector<uint32_t>> qubit_checks_;  // checks of each qubit, in check order
    std::optional<DetectorGraph> graph_;
    GnnWorkspace workspace_;
    std::vector<double> edge_weights_;
    std::vector<std::pair<uint32_t, double>> qubit_weights_;
};

}  // namespace vornex
