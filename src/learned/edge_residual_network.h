// A small fully connected network that maps one edge's input row to a
// correction of its prior log-likelihood weight.
//
// ReLU hidden layers, then one linear output. The output layer starts at
// zero, so an untrained network corrects nothing and matching with it is
// plain matching with the model's weights; training moves away from that
// only as far as the data asks. Trained with Adam (Kingma and Ba, 2015) on
// gradients summed over a batch of edges.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"
#include "base/wyrand.h"

namespace vornex {

class EdgeResidualNetwork {
public:
    // Activations of one forward pass, kept for its backward pass.
    struct Trace {
        std::vector<double> activations;  // every hidden layer's output, concatenated
        std::vector<double> delta;        // backward scratch: one layer's gradient
        std::vector<double> lower;        // backward scratch: the layer below's gradient
    };

    // `seed` fixes the hidden layers' starting weights.
    EdgeResidualNetwork(size_t n_inputs, size_t hidden_size, size_t n_layers, uint64_t seed);

    size_t n_inputs() const { return n_inputs_; }
    size_t hidden_size() const { return hidden_; }
    size_t n_layers() const { return n_layers_; }
    size_t n_parameters() const { return parameters_.size(); }

    // The correction for one input row.
    double evaluate(std::span<const double> inputs, Trace& trace) const;
    // Adds d(output)/d(parameters) * output_gradient to `gradient` (one entry
    // per parameter) for the row last evaluated with `trace`.
    void accumulate_gradient(std::span<const double> inputs, Trace& trace, double output_gradient,
                             std::span<double> gradient) const;

    // One Adam step down `gradient` with step size `rate`.
    void adam_step(std::span<const double> gradient, double rate);

    Status save_weights(const std::string& path) const;
    // Every tensor's dtype and shape is checked before any value is copied,
    // so a failed load leaves the network as it was.
    Status load_weights(const std::string& path);

    // Same parameters (optimiser state aside).
    bool same_weights(const EdgeResidualNetwork& other) const { return parameters_ == other.parameters_; }

private:
    // Where layer l's weights (rows = its outputs) and biases sit in
    // parameters_; layer n_layers_ is the output layer.
    struct Layer {
        size_t in = 0;
        size_t out = 0;
        size_t weights = 0;  // offset of the out x in matrix
        size_t biases = 0;   // offset of the out biases
    };
    template <class Visit>
    void for_each_tensor(Visit visit) const;

    size_t n_inputs_;
    size_t hidden_;
    size_t n_layers_;
    std::vector<Layer> layers_;       // hidden layers, then the output layer
    std::vector<double> parameters_;  // every weight and bias, layer by layer
    std::vector<double> moment1_;     // Adam: running mean of the gradient
    std::vector<double> moment2_;     // Adam: running mean of its square
    uint64_t steps_ = 0;              // Adam steps taken, for the bias correction
};

}  // namespace vornex
