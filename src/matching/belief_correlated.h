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
// not reach.
//
// BP's reach is a choice (bp_radius, as belief-matching's). Unbounded (the
// exact run) costs BP over the whole hypergraph per shot and four exact
// matchings. A finite radius r caps BP at r steps from the shot's events:
// the belief-weighted matchings run on a second graph weighted once by the
// event-free posteriors, with the region's edges re-weighted per shot; at
// r = 0 there is no BP per shot at all, only the event-free weights. On
// rotated surface-code memory (p = 0.003-0.005, d = 5-9) r = 0 costs 2.5-4x
// correlated matching but keeps little of the exact run's gain (6% fewer
// failures than correlated matching at d = 5 p = 0.005, none at d = 7),
// while r = 1 keeps the exact run's failures (at 0.35-1.4x its time with 10
// iterations, 3-12x less with 2): the per-shot BP near the events is what
// the gain needs, so the exact run stays the default.
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
        // The capped path's second pass: per edge, the call that last lowered it and to what.
        std::vector<uint32_t> lowered_stamp;
        std::vector<double> lowered;
        uint32_t clock = 0;
        CorrectionScore::Workspace score;
        bool busy = false;
    };

    // Fails as belief-matching and correlated matching do on `model`
    // (a component with more than two detectors, an error flipping several
    // edges with probability above 1/2) and on bad BP settings.
    // With `bp_radius` (kUnboundedRadius: the exact run) BP is capped as
    // above; the capped path needs the event-free tables (the parallel
    // schedule, the syndrome stop), without them every shot runs exact.
    static Result<BeliefCorrelatedDecoder> create(const DetectorErrorModel& model, const BpSettings& bp,
                                                  size_t bp_radius = kUnboundedRadius);

    size_t n_detectors() const { return belief_->n_detectors(); }
    size_t n_observables() const { return belief_->n_observables(); }
    size_t n_edges() const { return belief_->n_edges(); }
    const ModelObservables* model() const { return matching_->model(); }
    const CorrectionScore& scorer() const { return *score_; }
    // The belief-matching half (its event-free weights, its radius).
    const BeliefMatchingDecoder& belief() const { return *belief_; }
    // Whether the belief-weighted matchings run on the event-free graph.
    bool capped() const { return free_matcher_ != nullptr; }

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

    // The capped path's belief-weighted corrections into ws.edges[1, 2] and
    // flips[1, 2].
    Status match_capped(std::span<const uint8_t> events, sparse::ObsMask* flips, Workspace& ws) const;
    // Appends to ws.weights (this shot's overrides of the event-free graph)
    // the second pass's weights implied by ws.edges[1], each edge lowered to
    // the least of its weight now and the implied ones (listed again at each
    // lowering, so the last entry is the least).
    void lower_implied(Workspace& ws) const;
    // The correction of ws.edges[0, 1, 2] the score ranks lowest (the first on a tie, in the order 0, 2, 1).
    Choice choose(const sparse::ObsMask* flips, sparse::ObsMask& observables, Workspace& ws) const;

    std::shared_ptr<const BeliefMatchingDecoder> belief_;
    std::shared_ptr<const MatchingDecoder> matching_;  // built with correlations
    std::shared_ptr<const CorrectionScore> score_;
    std::shared_ptr<const ExactMatcher> free_matcher_;  // the capped path: the event-free weights, else null
};

}  // namespace vornex
