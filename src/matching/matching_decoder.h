// Exact minimum-weight matching decoder on the sparse engine.
//
// Built from check lists (checks are nodes, qubits edges; corrections per
// qubit) or from a detector error model (detectors are nodes, merged error
// mechanisms edges; predictions per observable). Every decode finds a
// minimum-weight perfect matching of the fired nodes with the boundary, on
// integer weights (see sparse/matching_graph.h for the rounding rule).
//
// Built from a model with correlations, a decode may run in two passes
// (correlated matching): the first pass's edges lower the weights of the
// edges that decomposed errors flip together with them
// (matching/edge_correlations.h), and the second pass matches on those
// weights; the graph is restored after the shot. A shot may also carry
// weights of its own for a few edges (EdgeWeight, in ln((1 - p) / p)
// units), used by both passes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "base/result.h"
#include "code/check_graph.h"
#include "dem/dem_code.h"
#include "dem/dem_model.h"
#include "matching/edge_correlations.h"
#include "matching/exact_matcher.h"
#include "matching/sparse/matching_graph.h"

namespace vornex {

class MatchingDecoder {
public:
    // Unit weights when `weights` is absent; otherwise one non-negative
    // finite weight per qubit (for instance ln((1 - p) / p)).
    static Result<MatchingDecoder> create(CheckList check_to_qubits, std::optional<uint64_t> n_qubits,
                                          QubitWeights weights);
    // Detectors become nodes, the model's graph view the edges; with
    // `enable_correlations` the decoder also keeps which edges decomposed
    // errors flip together, and predicts with two passes by default. Fails,
    // naming the line, on an error flipping several edges with probability
    // above 1/2.
    static Result<MatchingDecoder> from_model(const DetectorErrorModel& model, bool enable_correlations = false);

    size_t n_qubits() const { return n_qubits_; }
    size_t n_checks() const { return matcher_.n_nodes(); }
    size_t num_observables() const { return model_ ? model_->num_observables() : 0; }
    // The model's detectors and observables; nullptr when built from check lists.
    const ModelObservables* model() const { return model_.get(); }
    const sparse::MatchingGraph& graph() const { return matcher_.graph(); }
    // The engine behind every decode, for callers that match fired detector
    // lists themselves or with per-shot weights.
    const ExactMatcher& matcher() const { return matcher_; }
    // Built from a model with enable_correlations.
    bool correlations_enabled() const { return correlations_ != nullptr; }
    // The pairs of edges behind the second pass; nullptr without correlations.
    const EdgeCorrelations* correlations() const { return correlations_.get(); }

    Status check_syndrome_length(size_t length) const;
    // One correction byte per qubit (per edge for a model); a check fires
    // when its byte is odd.
    Result<std::vector<uint8_t>> decode(std::span<const uint8_t> syndrome) const;
    // Rows of corrections, decoded on the worker pool.
    Result<std::vector<uint8_t>> batch_decode(std::span<const uint8_t> syndromes, size_t n_shots) const;
    // Observable flips of n_shots rows of detection events (0/1 bytes or
    // packed little-endian bits); one row, or on the worker pool.
    // `correlated` asks for two passes (the decoder must have correlations);
    // `overrides` re-weight those edges for every shot of this call.
    Result<std::vector<uint8_t>> predict_observables(std::span<const uint8_t> events, size_t n_shots,
                                                     bool bit_packed, bool parallel, bool correlated = false,
                                                     std::span<const EdgeWeight> overrides = {}) const;
    // The edges of one shot's matching (0/1 bytes per detector), each once,
    // path by path.
    Result<std::vector<uint32_t>> decode_to_edges(std::span<const uint8_t> events, bool correlated,
                                                  std::span<const EdgeWeight> overrides = {}) const;

    // One shot of fired detectors: its edges (when `edges`) and observable
    // flips, in one or two passes, with no allocation once the thread's
    // scratch is warm.
    Status match(std::span<const sparse::NodeId> fired, bool correlated, std::span<const EdgeWeight> overrides,
                 sparse::ObsMask& observables, std::vector<uint32_t>* edges = nullptr) const;

private:
    Status require_correlations(bool correlated) const;

    ExactMatcher matcher_;
    std::shared_ptr<const EdgeCorrelations> correlations_;
    size_t n_qubits_ = 0;
    std::shared_ptr<const ModelObservables> model_;
};

// Picked by the shared prediction bindings over their generic template, so
// that a shot without a perfect matching is reported rather than guessed; a
// decoder built with correlations predicts with them.
inline Result<std::vector<uint8_t>> predict_observables(const MatchingDecoder& decoder, std::span<const uint8_t> events,
                                                        size_t n_shots, bool bit_packed, bool parallel) {
    return decoder.predict_observables(events, n_shots, bit_packed, parallel, decoder.correlations_enabled());
}

}  // namespace vornex
