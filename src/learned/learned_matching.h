// Learned matching: a small network corrects, per shot, the prior
// log-likelihood weight ln((1 - p) / p) of each edge of a detector error
// model's graph view near the shot's detection events, and exact
// minimum-weight matching runs on the corrected weights (the visited edges'
// weights go to the exact matcher as this shot's overrides).
//
// The network reads event-local inputs (learned/event_features.h): how the
// edge's ends and their neighbours fired, and whether the edges it is
// decomposed together with are explained by fired detectors, which is how
// correlated errors (one mechanism flipping several edges) reach the
// weights. An edge with none of these keeps its prior weight, so a shot
// costs a pass over the edges at its events plus the overrides of those
// edges in a matching graph built once. The network starts as the identity
// (correction zero: plain matching) and is trained on seeded samples of the
// model's own mechanisms by cross-entropy on which edges flipped; the
// network of lowest logical error rate on held-out samples is kept, the
// starting one included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/progress.h"
#include "base/result.h"
#include "dem/dem_code.h"
#include "dem/dem_graph.h"
#include "dem/dem_model.h"
#include "learned/edge_residual_network.h"
#include "learned/event_features.h"
#include "learned/mechanism_edges.h"
#include "matching/exact_matcher.h"

namespace vornex {

// Figures of one training run.
struct LearnedTraining {
    double best_error_rate = 0.0;   // logical error rate of the kept network on the held-out shots
    double prior_error_rate = 0.0;  // the same shots matched with the prior weights
    uint64_t samples = 0;           // training samples drawn
};

class LearnedMatchingDecoder {
public:
    // Per-thread state of one prediction; reused shot after shot.
    struct Workspace {
        EventFeatures::Workspace features;     // the shot's visited edges and their inputs
        EdgeResidualNetwork::Trace network;    // forward-pass scratch
        std::vector<double> weights;           // per edge: this shot's weight; the prior off the visited edges
        std::vector<EdgeWeight> overrides;     // the visited edges and their weights, for the matcher
        std::vector<sparse::NodeId> events;    // fired detectors
    };

    // hidden_size units in each of n_layers hidden layers; `seed` fixes the
    // network's start.
    static Result<LearnedMatchingDecoder> from_model(const DetectorErrorModel& model, size_t hidden_size,
                                                     size_t n_layers, uint64_t seed);

    size_t n_detectors() const { return graph_->num_detectors; }
    size_t n_edges() const { return graph_->edges.size(); }
    size_t num_observables() const { return graph_->num_observables; }
    const ModelObservables* model() const { return observables_.get(); }
    const DemGraph& dem_graph() const { return *graph_; }
    const EventFeatures& features() const { return *features_; }
    const EdgeResidualNetwork& network() const { return network_; }
    std::span<const double> prior_weights() const { return prior_weights_; }

    Workspace make_workspace() const;

    // The weight of an edge whose network correction is `correction`.
    double corrected_weight(size_t edge, double correction) const;
    // The corrected weight of an edge with these partner counts: looked up
    // for the few counts shots mostly give, else the network evaluated.
    double shot_weight(size_t edge, uint32_t explained, uint32_t clean, Workspace& ws) const;

    // This shot's matching weight per model edge (in model edge order).
    Result<std::vector<double>> edge_weights(std::span<const uint8_t> events) const;

    // Observable flips of one shot of 0/1 detector bytes into `observables`
    // (zeroed first); matching with the priors when `prior` is set.
    Status predict_into(std::span<const uint8_t> events, std::span<uint8_t> observables, Workspace& ws,
                        bool prior = false) const;
    // Predictions of n_shots rows (0/1 bytes or packed bits), on the worker
    // pool when `parallel`; `prior` matches with the prior weights.
    Result<std::vector<uint8_t>> predict_observables(std::span<const uint8_t> events, size_t n_shots,
                                                     bool bit_packed, bool parallel, bool prior = false) const;

    // Trains on n_samples fresh samples drawn from `seed`, measuring the
    // logical error rate on `validation_shots` held-out samples ten times
    // along the way and keeping the best network (the starting one
    // included; a later one must be strictly better; without held-out shots
    // the last one). Each chunk is
    // reported to `progress`; when it asks to stop, the network is the best
    // so far and the result is interrupted_error().
    Result<LearnedTraining> train(uint64_t n_samples, uint64_t seed, uint64_t validation_shots,
                                  ProgressSink* progress = nullptr);

    Status save_weights(const std::string& path) const { return network_.save_weights(path); }
    Status load_weights(const std::string& path);

private:
    LearnedMatchingDecoder(std::shared_ptr<const DemGraph> graph, MechanismEdges mechanisms, ExactMatcher matcher,
                           EdgeResidualNetwork network);

    // Fired detectors of a 0/1 row into ws.events; false on a wrong length.
    Status read_events(std::span<const uint8_t> events, Workspace& ws) const;
    // This shot's weights into ws.weights (the visited edges corrected).
    void correct_weights(Workspace& ws) const;
    // Puts the prior back on the edges the last correct_weights visited.
    void restore_weights(Workspace& ws) const;
    // Recomputes tabulated_ from the network; after every change of it.
    void tabulate();

    std::shared_ptr<const DemGraph> graph_;          // shared with features_, which points into it
    MechanismEdges mechanisms_;
    std::shared_ptr<const EventFeatures> features_;
    std::vector<double> prior_weights_;              // per model edge, ln((1 - p) / p)
    double max_weight_ = 0.0;                        // corrected weights are held in [0, max_weight_]
    ExactMatcher matcher_;                           // the matching graph with the prior weights
    EdgeResidualNetwork network_;
    std::vector<double> tabulated_;                  // per edge, kTableEntries corrected weights by partner counts
    std::shared_ptr<const ModelObservables> observables_;
};

}  // namespace vornex
