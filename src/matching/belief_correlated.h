// Correlated matching with belief-propagation weights.
//
// Two sources of evidence that a single matching misses, used together:
// belief propagation on the model's full hypergraph turns the shot's events
// into per-edge posteriors (the first pass matches on those weights instead
// of the priors), and the edges that first pass uses then lower the weights
// of the edges their decomposed errors flip with them (the second pass of
// correlated matching, edge_correlations.h), each edge keeping the lower of
// its belief weight and the implied one. The second pass's matching is the
// answer.
//
// Pick it when failures matter more than time: it costs belief-matching's
// BP per shot (tens to hundreds of times correlated matching's time), and
// beats correlated matching by a few to about ten percent on circuit-level
// surface-code noise, most at low error rates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "base/result.h"
#include "bp/bp_settings.h"
#include "dem/dem_code.h"
#include "dem/dem_model.h"
#include "matching/belief_matching.h"
#include "matching/matching_decoder.h"

namespace vornex {

class BeliefCorrelatedDecoder {
public:
    // Per-thread state of one shot.
    struct Workspace {
        BeliefMatchingDecoder::Workspace belief;
        std::vector<EdgeWeight> weights;  // this shot's belief weight of every edge
        std::vector<sparse::NodeId> fired;
        bool busy = false;
    };

    // Fails as belief-matching and correlated matching do on `model`
    // (a component with more than two detectors, an error flipping several
    // edges with probability above 1/2) and on bad BP settings.
    static Result<BeliefCorrelatedDecoder> create(const DetectorErrorModel& model, const BpSettings& bp);

    size_t n_detectors() const { return belief_->n_detectors(); }
    size_t n_observables() const { return belief_->n_observables(); }
    size_t n_edges() const { return belief_->n_edges(); }
    const ModelObservables* model() const { return matching_->model(); }

    // The observable flips of one shot (n_detectors bytes, an event where
    // bit 0 is set). Fails only when the shot admits no matching at all.
    Status predict_into(std::span<const uint8_t> events, sparse::ObsMask& observables, Workspace& ws) const;

    // Observable flips of n_shots rows of detection events (0/1 bytes, or
    // bits packed little-endian when bit_packed), one row or on the worker pool.
    Result<std::vector<uint8_t>> predict_observables(std::span<const uint8_t> events, size_t n_shots,
                                                     bool bit_packed, bool parallel) const;

private:
    BeliefCorrelatedDecoder() = default;

    std::shared_ptr<const BeliefMatchingDecoder> belief_;
    std::shared_ptr<const MatchingDecoder> matching_;  // built with correlations
};

// Picked by the shared prediction bindings, so that a shot without a
// matching is reported rather than guessed.
inline Result<std::vector<uint8_t>> predict_observables(const BeliefCorrelatedDecoder& decoder,
                                                        std::span<const uint8_t> events, size_t n_shots,
                                                        bool bit_packed, bool parallel) {
    return decoder.predict_observables(events, n_shots, bit_packed, parallel);
}

}  // namespace vornex
