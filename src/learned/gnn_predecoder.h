// GNNPredecoder: a message-passing graph network over a DetectorGraph that
// predicts one positive weight per graph edge, trained in place by
// per-sample gradient descent on the squared error with L2 weight decay.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "base/progress.h"
#include "base/result.h"
#include "base/wyrand.h"
#include "learned/gnn_graph.h"
#include "learned/gnn_layers.h"
#include "learned/gnn_weights.h"

namespace vornex {

// Activations of one layer kept for the backward pass.
struct LayerTrace {
    std::vector<double> h_in;   // n_nodes x in_dim: the layer's input embeddings
    std::vector<double> agg;    // n_nodes x hidden: mean incoming message
    std::vector<uint8_t> mask;  // n_nodes x hidden: update pre-activation > 0
};

// Scratch of forward passes and training steps; reusable, only grows.
struct GnnWorkspace {
    std::vector<LayerTrace> layers;
    std::vector<double> embed;     // n_nodes x embed_dim: final node embeddings
    std::vector<double> messages;  // n_edges x hidden
    std::vector<double> readout_r;        // n_edges x hidden
    std::vector<uint8_t> readout_mask;    // n_edges x hidden
    std::vector<double> raw;              // n_edges
    std::vector<double> weights;          // n_edges
    // Backward scratch.
    std::vector<double> grad, grad_lower, grad_out, context, column, mu, delta;
};

class GNNPredecoder {
public:
    static constexpr double kDefaultLearningRate = 0.01;
    static constexpr double kDefaultL2Lambda = 1e-5;
    static constexpr double kMinWeight = 1e-6;
    static constexpr double kMaxWeight = 100.0;

    // Weights drawn from generators derived from the calling thread's
    // generator, so every network starts differently.
    GNNPredecoder(size_t node_feat_dim, size_t edge_feat_dim, size_t hidden_size, size_t n_layers);
    // Same, drawing the per-layer seeds from `seed_source` (reproducible).
    GNNPredecoder(size_t node_feat_dim, size_t edge_feat_dim, size_t hidden_size, size_t n_layers,
                  Wyrand& seed_source);

    size_t node_feat_dim() const { return node_feat_dim_; }
    size_t edge_feat_dim() const { return edge_feat_dim_; }
    size_t hidden_size() const { return hidden_; }
    size_t n_layers() const { return layers_.size(); }
    // Width of the node embeddings the readout reads: hidden_size, or the raw
    // node feature width for a network without layers.
    size_t embed_dim() const { return layers_.empty() ? node_feat_dim_ : hidden_; }

    double learning_rate() const { return learning_rate_; }
    double l2_lambda() const { return l2_lambda_; }
    void set_learning_rate(double lr) { learning_rate_ = lr; }
    void set_l2_lambda(double value) { l2_lambda_ = value; }

    // ValueError unless the graph's feature widths match the network;
    // std::bad_alloc when a pass over it cannot be held in memory.
    Status check_graph(const DetectorGraph& graph) const;

    // Edge weights in [1e-6, 100], one per graph edge.
    Result<std::vector<double>> forward(const DetectorGraph& graph) const;
    // Same into `out`, reusing `ws` (the hot path of repeated decodes).
    Status forward_into(const DetectorGraph& graph, GnnWorkspace& ws, std::vector<double>& out) const;
    // Edge weights and, per node, 1 / (e^(1 - mean incident weight) + 1).
    Result<std::pair<std::vector<double>, std::vector<double>>> predict_with_node_probs(
        const DetectorGraph& graph) const;

    // n_epochs passes over the (graph, target) pairs in order, one gradient
    // step per pair; a pair whose target length differs from the graph's
    // edge count is skipped. Panic when the two lists differ in length,
    // ValueError for a graph of the wrong feature widths; both before any update.
    // Each step is reported to `progress` (may be null); when it asks to
    // stop, the steps taken stay and the result is interrupted_error().
    Status train(std::span<const DetectorGraph* const> graphs, std::span<const std::vector<double>> targets,
                 uint64_t n_epochs, ProgressSink* progress = nullptr);
    Status train(std::span<const DetectorGraph> graphs, std::span<const std::vector<double>> targets,
                 uint64_t n_epochs, ProgressSink* progress = nullptr);

    // Number of weights and biases.
    double parameter_count() const;

    // Mean squared error of the edge weights against the targets over all
    // pairs (terms up to the shorter of the two lists); 0 without terms.
    Result<double> loss(std::span<const DetectorGraph> graphs, std::span<const std::vector<double>> targets) const;

    // Safetensors weights file; RuntimeError texts for IO and format faults.
    Status save_weights(const std::string& path) const;
    // Every tensor is checked before any is copied, so a failed load leaves
    // the network unchanged.
    Status load_weights(const std::string& path);
    // Same from a parsed file.
    Status load_weights_from(const SafetensorsReader& file);

    std::vector<MessagePassingLayer>& layers() { return layers_; }
    const std::vector<MessagePassingLayer>& layers() const { return layers_; }
    EdgeReadout& readout() { return readout_; }
    const EdgeReadout& readout() const { return readout_; }

    // Same tensors (sizes, weights, learning rate and decay).
    bool operator==(const GNNPredecoder&) const = default;

private:
    void run_forward(const DetectorGraph& graph, GnnWorkspace& ws) const;
    void train_step(const DetectorGraph& graph, std::span<const double> target, GnnWorkspace& ws);

    size_t node_feat_dim_ = 0;
    size_t edge_feat_dim_ = 0;
    size_t hidden_ = 0;
    std::vector<MessagePassingLayer> layers_;
    EdgeReadout readout_;
    double learning_rate_ = kDefaultLearningRate;
    double l2_lambda_ = kDefaultL2Lambda;
};

// softplus(v) = ln(e^v + 1), with its linear and exponential tails.
double gnn_softplus(double v);
// Logistic function, evaluated without overflow on either side.
double gnn_sigmoid(double v);

}  // namespace vornex
