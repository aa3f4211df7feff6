// Belief-matching (Higgott, Bohdanowicz, Kubica, Flammia, Campbell 2023):
// belief propagation on the full error model, hyperedges included, then
// minimum-weight matching on its graph view with every edge weight re-derived
// from BP's posteriors instead of the priors.
//
// Input is a narrow model: the model's columns (error mechanisms with prior
// probability and the detectors they flip) for BP, the graph edges for
// matching, and for each column the graph edges its error decomposes into.
// An edge's probability is the chance that an odd number of the columns
// containing it fired, each independently with its posterior probability.
//
// With a finite BP radius a shot's cost follows its events:
// BP runs on the fired detectors' neighbourhood of that radius, only the
// graph edges of the columns there are re-weighted, and the matcher takes
// them as per-shot overrides of a graph weighted once by the event-free
// posteriors of the last iteration. That is an approximation of the exact
// run (radius None): messages beyond the radius stay event-free, and edges
// outside the region keep the event-free weights of the last iteration even
// when the shot's BP stopped earlier (those posteriors settle after a few
// iterations, and are far from any event). On circuit-level surface codes
// radius 1 kept the exact run's failures within sampling error at 1.3-3.7x
// less time (bench/relay_bench.py); the exact run stays the default.
//
// Matching runs behind EdgeMatcher (the exact engine through its door unless the caller
// brings another); its graph is built once and only reweighted per shot. If
// the belief-weighted matching fails or does not reproduce the syndrome, the
// plain (prior-weighted) matching result is returned instead, so
// belief-matching never fails where plain matching succeeds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "base/result.h"
#include "bp/belief_propagation.h"
#include "bp/bp_settings.h"
#include "bp/restricted_bp.h"
#include "bp/tanner_graph.h"
#include "code/check_graph.h"
#include "dem/dem_code.h"
#include "matching/edge_matcher.h"
#include "matching/exact_matcher.h"

namespace vornex {

class SparseEdgeMatcher;

// The model as belief-matching reads it. An edge end of kNoIndex is the boundary.
struct MatchingModel {
    size_t n_detectors = 0;
    size_t n_observables = 0;
    std::vector<std::pair<uint32_t, uint32_t>> edge_ends;
    CheckList edge_observables;        // observables each edge flips
    std::vector<double> column_probability;
    CheckList column_detectors;        // detectors each column flips (any number)
    CheckList column_edges;            // graph edges each column decomposes into
};

// The belief-matching input of a detector error model: its errors as columns,
// the '^'-separated components of each as edges of the model's graph view.
// Errors of probability 0 are left out. Fails where the graph view does (a
// component with more than two detectors: the model must be decomposed).
Result<MatchingModel> matching_model_from(const DetectorErrorModel& model);

// Matching weight ln((1-p)/p) of an edge probability, with p held in
// [1e-15, 0.5] so weights stay finite and non-negative (the matching engines
// take no negative weights).
double matching_weight(double probability);

class BeliefMatchingDecoder {
public:
    // Per-call state; reuse it across calls of one thread.
    struct Workspace {
        BpMessages bp;
        std::vector<double> weights;       // per edge: this shot's matching weight
        std::vector<uint8_t> bit_syndrome; // per detector: bit 0 of the caller's byte
        std::vector<uint8_t> fired;        // per detector: parity the edge flips produce (explains)
        std::vector<uint8_t> flips;        // per edge: the matching of a prediction call
        // The radius-capped path; edge_marked is all 0 between shots.
        std::vector<uint32_t> events;      // fired detectors of this shot
        std::vector<uint8_t> edge_marked;  // per edge: listed in overrides this shot
        std::vector<EdgeWeight> overrides; // re-weighted edges of this shot
        std::vector<uint32_t> matched;     // edges of this shot's matching
        bool busy = false;                 // held by a ScratchLease on this thread
    };

    struct Outcome {
        bool used_belief_weights = true;  // false when the plain matching result was returned
        size_t bp_iterations = 0;
    };

    static Result<BeliefMatchingDecoder> create(MatchingModel model, const BpSettings& bp);
    // As create, with another matching engine (tests, other engines); a null
    // matcher means the sparse one.
    static Result<BeliefMatchingDecoder> create(MatchingModel model, const BpSettings& bp,
                                                std::shared_ptr<const EdgeMatcher> matcher);
    // As create, with BP capped at `bp_radius` steps from the events
    // (kUnboundedRadius: the exact run). The capped path needs the sparse
    // matcher and the event-free tables; without them every shot runs exact.
    static Result<BeliefMatchingDecoder> create(MatchingModel model, const BpSettings& bp, size_t bp_radius);

    size_t n_detectors() const { return model_.n_detectors; }
    size_t n_observables() const { return model_.n_observables; }
    size_t n_edges() const { return model_.edge_ends.size(); }
    size_t n_columns() const { return model_.column_probability.size(); }
    // Detectors and the edges' observables, for the shared prediction driver.
    const ModelObservables* model() const { return observables_.get(); }
    std::span<const double> prior_weights() const { return prior_weights_; }

    // Edge probabilities from per-column probabilities (the priors or BP's
    // posteriors), combined as independent flips.
    void edge_probabilities(std::span<const double> column_probability, std::span<double> out) const;

    // This shot's matching weight of every edge from BP's posteriors, into
    // ws.weights (n_edges entries), for a syndrome of n_detectors bytes with
    // at least one event; returns the number of BP iterations run.
    size_t belief_weights(std::span<const uint8_t> syndrome, Workspace& ws) const;

    // Decodes one syndrome of n_detectors bytes into edge flips (n_edges
    // bytes) and observable flips (n_observables bytes). Fails only when
    // neither the belief weights nor the priors admit a matching (an odd
    // number of detection events in a part of the graph with no boundary).
    Result<Outcome> decode_into(std::span<const uint8_t> syndrome, std::span<uint8_t> edge_flips,
                                std::span<uint8_t> observables, Workspace& ws) const;
    // Plain matching with the prior weights.
    Status decode_plain_into(std::span<const uint8_t> syndrome, std::span<uint8_t> edge_flips,
                             std::span<uint8_t> observables) const;

    // Observable flips of n_shots rows of detection events (0/1 bytes, or
    // bits packed little-endian when bit_packed), as rows of n_observables
    // bytes or packed likewise; `plain` selects prior-weighted matching.
    Result<std::vector<uint8_t>> predict_observables(std::span<const uint8_t> events, size_t n_shots,
                                                     bool bit_packed, bool parallel, bool plain = false) const;

    // True when the edge flips fire exactly the detectors of the syndrome.
    bool explains(std::span<const uint8_t> syndrome, std::span<const uint8_t> edge_flips, Workspace& ws) const;

    // Whether shots take the radius-capped path.
    bool capped() const { return belief_matcher_ != nullptr; }
    // The radius shots are capped at (kUnboundedRadius: the exact run).
    size_t bp_radius() const { return bp_radius_; }
    // The capped path's graph weights, per edge: those of the event-free
    // posteriors of the last iteration (empty unless capped()).
    std::span<const double> event_free_weights() const { return event_free_weights_; }
    // The capped path's weights of one shot with at least one event: BP
    // within the radius, then ws.overrides gets the region's edges with
    // their weights (every other edge keeps its event-free weight). False
    // when the event-free tables ran out (the shot needs the exact path).
    // Precondition: capped().
    bool region_weights(std::span<const uint8_t> syndrome, Workspace& ws, size_t& iterations) const;
    // One shot by the radius-capped path (the exact one when the event-free
    // tables ran out); observables are overwritten.
    Result<Outcome> decode_capped(std::span<const uint8_t> syndrome, std::span<uint8_t> observables,
                                  Workspace& ws) const;

private:
    BeliefMatchingDecoder() = default;

    MatchingModel model_;
    BpSettings bp_settings_;
    TannerGraph columns_;                 // detectors x columns, for BP
    std::vector<double> prior_llr_;       // per column
    EventFreeBp event_free_;              // BP restricted to each shot's events, when the settings allow it
    std::vector<uint32_t> edge_column_begin_; // CSR edge -> columns containing it
    std::vector<uint32_t> edge_columns_;
    std::vector<double> prior_weights_;   // per edge
    std::shared_ptr<const EdgeMatcher> matcher_;
    size_t bp_radius_ = kUnboundedRadius;
    // The capped path: the prior-weighted sparse matcher (matcher_ itself),
    // and one weighted by the event-free posteriors of the last iteration.
    std::shared_ptr<const SparseEdgeMatcher> prior_matcher_;
    std::shared_ptr<const SparseEdgeMatcher> belief_matcher_;
    std::vector<double> event_free_weights_;  // belief_matcher_'s, per edge
    std::shared_ptr<const ModelObservables> observables_;  // edges as the map's columns
};

}  // namespace vornex
