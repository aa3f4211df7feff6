// Matching that weighs three corrections against the model's own errors.
//
// Each shot is matched three ways on the model's graph view: correlated
// matching (the prior weights, then the weights the first pass's edges
// imply, edge_correlations.h); matching on belief propagation's per-edge
// posteriors (BP on the full hypergraph, as belief-matching does); and
// correlated matching whose first pass is that belief-weighted one. The
// three corrections are then scored by the decomposed errors that explain
// them: an edge costs the weight of the errors that flip it alone, and two
// edges that one error flips together cost that error's weight instead when
// it is lower (pairs taken greedily by saving). The lowest-scoring
// correction is the prediction.
//
// The graph's weights merge every error into independent edges, so a single
// matching cannot tell a likely pair from two unlikely singles; the score
// can, and BP's weights give candidates that the priors' first pass would
// not reach. Pick it when failures matter more than time: it costs BP per
// shot and four exact matchings (on rotated surface-code memory at
// p = 0.005, about a fifth fewer failures than correlated matching at d = 7
// and 9, for 150-300 times its time).
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
#include "matching/edge_correlations.h"
#include "matching/matching_decoder.h"

namespace vornex {

// The score of a correction (a set of graph-view edges) by the decomposed
// errors of a model: the least total weight of single-edge errors and
// two-edge errors that flip exactly those edges, pairs chosen greedily.
class CorrectionScore {
public:
    struct Saving {
        double saving;       // the two edges' single weights less the pair's
        double pair_weight;  // of the errors flipping exactly a and b
        uint32_t a, b;
    };
    // Per-thread state; only grows.
    struct Workspace {
        std::vector<uint32_t> sorted;
        std::vector<Saving> savings;
        std::vector<uint8_t> used;  // per position in `sorted`
    };

    // From the columns of `model` (matching_model_from): the weight of the
    // errors flipping each edge alone, and of those flipping each pair.
    static CorrectionScore create(const MatchingModel& model);

    // The cost of an edge that no error flips alone, left unpaired: far
    // above any matching weight, so that a correction the model's errors
    // cannot explain loses to one they can (finite, so that sums stay exact
    // enough to rank corrections that both carry such edges).
    static constexpr double kNoSingleError = 1e9;

    double single_weight(uint32_t edge) const { return single_[edge]; }
    double score(std::span<const uint32_t> edges, Workspace& ws) const;

private:
    std::vector<double> single_;    // per edge
    std::vector<uint32_t> begin_;   // n_edges + 1 offsets into partners_
    std::vector<EdgeWeight> partners_;  // per edge a: (b > a, weight of the errors flipping exactly a and b)
};

class BeliefCorrelatedDecoder {
public:
    // Which of the three corrections a shot took.
    enum class Choice : uint8_t { Correlated, Belief, BeliefCorrelated };

    // Per-thread state of one shot.
    struct Workspace {
        BeliefMatchingDecoder::Workspace belief;
        std::vector<EdgeWeight> weights;  // this shot's belief weights; then the implied ones appended
        std::vector<sparse::NodeId> fired;
        std::vector<uint32_t> edges[3];
        EdgeCorrelations::Workspace implied;
        CorrectionScore::Workspace score;
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
    const CorrectionScore& scorer() const { return *score_; }

    // The observable flips of one shot (n_detectors bytes, an event where
    // bit 0 is set) and the correction chosen. Fails only when the shot
    // admits no matching at all.
    Result<Choice> predict_into(std::span<const uint8_t> events, sparse::ObsMask& observables, Workspace& ws) const;

    // Observable flips of n_shots rows of detection events (0/1 bytes, or
    // bits packed little-endian when bit_packed), one row or on the worker pool.
    Result<std::vector<uint8_t>> predict_observables(std::span<const uint8_t> events, size_t n_shots,
                                                     bool bit_packed, bool parallel) const;

private:
    BeliefCorrelatedDecoder() = default;

    std::shared_ptr<const BeliefMatchingDecoder> belief_;
    std::shared_ptr<const MatchingDecoder> matching_;  // built with correlations
    std::shared_ptr<const CorrectionScore> score_;
};

}  // namespace vornex
