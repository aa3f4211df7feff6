#include "learned/hybrid_decoder.h"

#include <algorithm>
#include <cstring>

#include "base/memory_budget.h"
#include "base/wyrand.h"
#include "learned/gnn_trainer.h"
#include "uf/decoder.h"

namespace vornex {
namespace {

// Heuristic weight of a qubit from the number of its checks that fired.
double heuristic_weight(size_t active_checks) {
    if (active_checks == 0) return 1.0;
    return active_checks == 1 ? 3.0 : 10.0;
}

}  // namespace

HybridDecoder::HybridDecoder(CheckList check_to_qubits, size_t n_qubits, GraphExtras extras, GNNPredecoder network,
                             SparseBlossomDecoder sparse)
    : check_to_qubits_(std::move(check_to_qubits)),
      n_qubits_(n_qubits),
      extras_(std::move(extras)),
      network_(std::move(network)),
      sparse_(std::move(sparse)),
      qubit_checks_(n_qubits) {
    for (size_t c = 0; c < check_to_qubits_.size(); ++c)
        for (uint32_t q : check_to_qubits_[c])
            if (q < n_qubits_) qubit_checks_[q].push_back(static_cast<uint32_t>(c));
}

Result<HybridDecoder> HybridDecoder::create(CheckList check_to_qubits, std::optional<size_t> n_qubits,
                                            GraphExtras extras, std::optional<size_t> hidden_size,
                                            std::optional<size_t> n_layers, std::optional<uint64_t> seed) {
    Wyrand seed_source = seed ? Wyrand(*seed) : derive_rng();
    GNNPredecoder network(DetectorGraph::kNodeFeatureDim, DetectorGraph::kEdgeFeatureDim,
                          hidden_size.value_or(kHybridDefaultHidden), n_layers.value_or(kHybridDefaultLayers),
                          seed_source);
    return create(std::move(check_to_qubits), n_qubits, std::move(extras), std::move(network));
}

Result<HybridDecoder> HybridDecoder::create(CheckList check_to_qubits, std::optional<size_t> n_qubits,
                                            GraphExtras extras, GNNPredecoder network) {
    const size_t nq = n_qubits.value_or(derived_n_qubits(check_to_qubits));
    // Measured on a build and first decode: about 31 bytes per declared qubit
    // (its sparse blossom decoder's and its own per-qubit check lists).
    if (auto fits = check_declared_qubits(nq, "a hybrid decoder", 32); !fits) return fits.error();
    auto sparse = SparseBlossomDecoder::create(check_to_qubits, nq);
    if (!sparse) return sparse.error();
    return HybridDecoder(std::move(check_to_qubits), nq, std::move(extras), std::move(network),
                         std::move(sparse).value());
}

Status HybridDecoder::check_syndrome_length(size_t length) const {
    if (length == n_checks()) return ok_status();
    return value_error("Syndrome length " + std::to_string(length) + " != n_checks " + std::to_string(n_checks()));
}

Result<const DetectorGraph*> HybridDecoder::graph_for(std::span<const uint8_t> syndrome) {
    if (!graph_) {
        auto built = DetectorGraph::create(check_to_qubits_, syndrome, extras_, n_qubits_);
        if (!built) return built.error();
        graph_ = std::move(built.value());
        return &*graph_;
    }
    // Only the syndrome columns depend on the syndrome and they are rewritten
    // whole, so updating the cached graph in place equals updating a copy.
    if (Status s = graph_->update_syndrome(syndrome); !s) return s.error();
    return &*graph_;
}

Result<std::vector<uint8_t>> HybridDecoder::decode_hybrid(std::span<const uint8_t> syndrome) {
    if (Status s = check_syndrome_length(syndrome.size()); !s) return s.error();
    auto graph = graph_for(syndrome);
    if (!graph) return graph.error();
    if (Status s = network_.forward_into(*graph.value(), workspace_, edge_weights_); !s) return s.error();
    const auto& qubits = graph.value()->edge_qubit_id();
    qubit_weights_.clear();
    for (size_t k = 0; k < qubits.size() && k < edge_weights_.size(); ++k)
        qubit_weights_.emplace_back(qubits[k], edge_weights_[k]);
    return sparse_.decode_with_weights(syndrome, qubit_weights_);
}

Result<std::vector<uint8_t>> HybridDecoder::decode_heuristic(std::span<const uint8_t> syndrome) {
    if (Status s = check_syndrome_length(syndrome.size()); !s) return s.error();
    auto graph = graph_for(syndrome);
    if (!graph) return graph.error();
    qubit_weights_.clear();
    for (uint32_t q : graph.value()->edge_qubit_id()) {
        size_t active = 0;
        if (q < n_qubits_)
            for (uint32_t c : qubit_checks_[q]) active += syndrome[c] == 1;
        qubit_weights_.emplace_back(q, heuristic_weight(active));
    }
    return sparse_.decode_with_weights(syndrome, qubit_weights_);
}

Result<std::vector<uint8_t>> HybridDecoder::decode_standard(std::span<const uint8_t> syndrome) {
    if (Status s = check_syndrome_length(syndrome.size()); !s) return s.error();
    return sparse_.decode(syndrome);
}

template <class Decode>
Result<std::vector<uint8_t>> HybridDecoder::batch(std::span<const uint8_t> syndromes, size_t n_shots, Decode decode) {
    const size_t nc = n_checks();
    std::vector<uint8_t> out(batch_bytes(n_shots, n_qubits_), 0);
    for (size_t row = 0; row < n_shots; ++row) {
        auto correction = decode(syndromes.subspan(row * nc, nc));
        if (!correction) return correction.error();
        const size_t n = std::min(correction.value().size(), n_qubits_);
        if (n > 0) std::memcpy(out.data() + row * n_qubits_, correction.value().data(), n);
    }
    return out;
}

Result<std::vector<uint8_t>> HybridDecoder::batch_decode_hybrid(std::span<const uint8_t> syndromes, size_t n_shots) {
    return batch(syndromes, n_shots, [this](std::span<const uint8_t> s) { return decode_hybrid(s); });
}

Result<std::vector<uint8_t>> HybridDecoder::batch_decode_standard(std::span<const uint8_t> syndromes,
                                                                  size_t n_shots) {
    return batch(syndromes, n_shots, [this](std::span<const uint8_t> s) { return decode_standard(s); });
}

Result<double> HybridDecoder::train(uint64_t n_samples, uint64_t n_epochs, double error_rate,
                                    ProgressSink* progress) {
    return GNNTrainer(check_to_qubits_, n_qubits_, error_rate).train(network_, n_samples, n_epochs, progress);
}

Result<double> HybridDecoder::train_bp(uint64_t n_samples, uint64_t n_epochs, double error_rate,
                                       uint64_t max_bp_iter, ProgressSink* progress) {
    return GNNTrainer(check_to_qubits_, n_qubits_, error_rate)
        .train_bp(network_, n_samples, n_epochs, max_bp_iter, progress);
}

}  // namespace vornex
