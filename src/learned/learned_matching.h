// Learned matching: the graph network estimates, per shot, the probability
// that each edge of a detector error model's graph view flipped, and exact
// minimum-weight matching runs on the log-likelihood weights ln((1 - p) / p)
// of those estimates instead of the priors.
//
// The network sees one node per detector plus one boundary node, and one
// edge per edge of the graph view (boundary edges join the boundary node),
// so every matching edge gets an estimate. Its edge features carry the prior
// weight. It is trained on seeded independent samples of the model's own
// graph-view noise: targets are the edges that fired (so the squared error
// is least at the posterior flip probability), a fresh chunk of samples per
// step, and the network of lowest logical error rate on a held-out sample is
// kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "code/progress.h"
#include "code/result.h"
#include "dem/dem_code.h"
#include "dem/dem_graph.h"
#include "dem/dem_model.h"
#include "learned/gnn_graph.h"
#include "learned/gnn_predecoder.h"
#include "matching/sparse/matching_graph.h"
#include "matching/sparse/sparse_engine.h"

namespace vornex {

// Figures of one training run.
struct LearnedTraining {
    double best_error_rate = 0.0;   // logical error rate of the kept network on the held-out shots
    double prior_error_rate = 0.0;  // the same shots matched with the prior weights
    uint64_t samples = 0;           // training samples drawn
};

class LearnedMatchingDecoder {
public:
    // Per-thread state of one prediction: the detector graph of the shot,
    // the network's scratch and the shot's matching graph.
    struct Workspace {
        DetectorGraph graph;                   // a copy of the decoder's graph, syndrome rewritten per shot
        GnnWorkspace network;                  // forward-pass scratch
        std::vector<double> estimates;         // per network edge: estimated flip probability
        std::vector<double> weights;           // per model edge: this shot's log-likelihood weight
        std::vector<sparse::GraphEdge> edges;  // this shot's matching edges
        std::vector<uint8_t> node_syndrome;    // detectors, then 0 for the boundary node
        std::vector<sparse::NodeId> events;    // fired detectors
        sparse::SparseMatching matching;
    };

    // One detector per model detector; `seed` fixes the network's start.
    static Result<LearnedMatchingDecoder> from_model(const DetectorErrorModel& model, size_t hidden_size,
                                                     size_t n_layers, uint64_t seed);

    size_t n_detectors() const { return graph_.num_detectors; }
    size_t n_edges() const { return graph_.edges.size(); }
    size_t num_observables() const { return graph_.num_observables; }
    const ModelObservables* model() const { return observables_.get(); }
    const GNNPredecoder& network() const { return network_; }
    GNNPredecoder& network() { return network_; }
    const DetectorGraph& detector_graph() const { return detector_graph_; }

    Workspace make_workspace() const;

    // This shot's matching weight per model edge (in model edge order).
    Status edge_weights_into(std::span<const uint8_t> events, Workspace& ws) const;
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
    // included). Each chunk is reported to `progress`; when it asks to stop,
    // the network is the best so far and the result is interrupted_error().
    Result<LearnedTraining> train(uint64_t n_samples, uint64_t seed, uint64_t validation_shots,
                                  ProgressSink* progress = nullptr);

    Status save_weights(const std::string& path) const { return network_.save_weights(path); }
    Status load_weights(const std::string& path) { return network_.load_weights(path); }

private:
    LearnedMatchingDecoder(DemGraph graph, DetectorGraph detector_graph, GNNPredecoder network);

    // Matching of the workspace's events on its weights into observables.
    Status match_into(Workspace& ws, std::span<const double> weights, std::span<uint8_t> observables) const;

    DemGraph graph_;
    std::vector<double> prior_weights_;     // per model edge, ln((1 - p) / p)
    std::vector<sparse::ObsMask> masks_;    // per model edge: its observables
    DetectorGraph detector_graph_;          // zero syndrome; copied per workspace
    GNNPredecoder network_;
    std::shared_ptr<const ModelObservables> observables_;
};

// Same dispatch as the other model decoders (dem/model_prediction.h).
inline Result<std::vector<uint8_t>> predict_observables(const LearnedMatchingDecoder& decoder,
                                                        std::span<const uint8_t> events, size_t n_shots,
                                                        bool bit_packed, bool parallel) {
    return decoder.predict_observables(events, n_shots, bit_packed, parallel);
}

}  // namespace vornex
