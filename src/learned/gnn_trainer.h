// Training data and training runs for the graph network. Samples come from a
// fixed arithmetic error pattern (no random generator), so one trainer always
// produces the same dataset; targets are either the matching decoder's
// correction or the per-qubit flip probabilities of a BP pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "base/progress.h"
#include "base/result.h"
#include "code/check_graph.h"
#include "learned/gnn_graph.h"
#include "learned/gnn_predecoder.h"

namespace vornex {

// Graphs and their per-edge targets, index for index.
struct TrainingSet {
    std::vector<DetectorGraph> graphs;
    std::vector<std::vector<double>> targets;
};

// Target of an edge whose qubit neighbours a corrected qubit.
inline constexpr double kNeighbourTarget = 0.25;
// Learning-rate attempts of the back-off, each half the previous.
inline constexpr int kBackoffAttempts = 6;

// Trains `network` n_epochs on the set from the same start with learning
// rates lr0, lr0/2, ... lr0/32 and keeps the best attempt (or the start when
// none improves on it). The learning rate is restored; returns the best loss.
// Steps of all attempts are reported to `progress` (may be null); when it
// asks to stop, the network keeps the best weights reached so far (the
// stopped attempt included) and the result is interrupted_error().
Result<double> train_with_backoff(GNNPredecoder& network, const TrainingSet& set, uint64_t n_epochs,
                                  ProgressSink* progress = nullptr);

// Units a training run reports: n_samples dataset samples, then the
// back-off's kBackoffAttempts * n_epochs * n_samples steps.
inline uint64_t training_steps(uint64_t n_samples, uint64_t n_epochs) {
    return n_samples + kBackoffAttempts * n_epochs * n_samples;
}

class GNNTrainer {
public:
    GNNTrainer(CheckList check_to_qubits, uint64_t n_qubits, double error_rate)
        : check_to_qubits_(std::move(check_to_qubits)), n_qubits_(n_qubits), error_rate_(error_rate) {}

    const CheckList& check_to_qubits() const { return check_to_qubits_; }
    uint64_t n_qubits() const { return n_qubits_; }
    double error_rate() const { return error_rate_; }

    // Error pattern of sample s: qubit q flips when
    // ((9301 s + 49297 q) mod 233280) / 233280 < error_rate.
    std::vector<uint8_t> sample_error(uint64_t sample) const;
    // Check parities of an error; indices >= n_qubits carry no error.
    std::vector<uint8_t> syndrome_of(const std::vector<uint8_t>& error) const;

    // Targets from the matching decoder's correction: 1 on corrected qubits,
    // 0.25 on their check neighbours, 0 elsewhere. Each sample built is
    // reported to `progress` (may be null); when it asks to stop the result
    // is interrupted_error().
    Result<TrainingSet> matching_dataset(uint64_t n_samples, ProgressSink* progress = nullptr) const;
    // Targets are BP flip probabilities after max_bp_iter iterations.
    Result<TrainingSet> bp_dataset(uint64_t n_samples, uint64_t max_bp_iter, ProgressSink* progress = nullptr) const;

    // The dataset's samples come first in the reported units, then the
    // back-off's steps; a stop while the dataset is built leaves the network
    // as it was.
    Result<double> train(GNNPredecoder& network, uint64_t n_samples, uint64_t n_epochs,
                         ProgressSink* progress = nullptr) const;
    Result<double> train_bp(GNNPredecoder& network, uint64_t n_samples, uint64_t n_epochs, uint64_t max_bp_iter,
                            ProgressSink* progress = nullptr) const;

private:
    // Appends one target per edge of a sample's graph, from its syndrome.
    using SampleTargets =
        std::function<Status(const std::vector<uint8_t>& syndrome, const DetectorGraph& graph, std::vector<double>& targets)>;
    // The seeded samples 0..n_samples-1 with their targets, each reported to
    // `progress` as it is built.
    Result<TrainingSet> sampled_dataset(uint64_t n_samples, ProgressSink* progress,
                                        const SampleTargets& targets_of) const;
    Result<DetectorGraph> sample_graph(uint64_t sample, std::vector<uint8_t>& syndrome) const;
    Result<DetectorGraph> first_sample() const;
    // std::bad_alloc before the first sample when n_samples of them cannot be held.
    Status check_dataset_size(uint64_t n_samples) const;
    // The training limits and the dataset size, before any sample is built.
    Status check_training(const GNNPredecoder& network, uint64_t n_samples, uint64_t n_epochs) const;

    CheckList check_to_qubits_;
    uint64_t n_qubits_;
    double error_rate_;
};

}  // namespace vornex
