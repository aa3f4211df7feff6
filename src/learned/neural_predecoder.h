// NeuralPredecoder: a two-hidden-layer perceptron from syndrome bits to one
// flip probability per output bit, trained in place by per-sample gradient
// descent on binary cross-entropy and decoded by thresholding at 0.5.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/progress.h"
#include "base/result.h"
#include "learned/gnn_layers.h"

namespace vornex {

class NeuralPredecoder {
public:
    // Hidden widths default to (n_input + n_output) / 2. Initial weights are
    // drawn from a generator seeded by the four sizes, so equal sizes give
    // equal networks in every process.
    static Result<NeuralPredecoder> create(uint64_t n_input, uint64_t n_output, std::optional<uint64_t> n_hidden1,
                                           std::optional<uint64_t> n_hidden2);

    uint64_t n_input() const { return n_input_; }
    uint64_t n_output() const { return n_output_; }
    uint64_t n_hidden1() const { return n_hidden1_; }
    uint64_t n_hidden2() const { return n_hidden2_; }

    // Output probabilities; ValueError unless the syndrome has n_input bytes.
    Result<std::vector<double>> predict(std::span<const uint8_t> syndrome) const;
    // 1 where the probability is at least 0.5.
    Result<std::vector<uint8_t>> decode(std::span<const uint8_t> syndrome) const;

    // Samples are consecutive n_input-byte slices of `syndromes` (a partial
    // tail is ignored) with consecutive n_output-byte targets; one step per
    // sample per epoch, in order. Panics, before any change, when the
    // corrections do not hold exactly one target per sample or n_input is 0.
    // Steps are reported to `progress` (may be null); when it asks to stop,
    // the steps taken stay and the result is interrupted_error().
    Status train(std::span<const uint8_t> syndromes, std::span<const uint8_t> corrections, uint64_t n_epochs,
                 double learning_rate, ProgressSink* progress = nullptr);

    const Matrix& w1() const { return w1_; }
    const Matrix& w2() const { return w2_; }
    const Matrix& w3() const { return w3_; }
    const std::vector<double>& b1() const { return b1_; }
    const std::vector<double>& b2() const { return b2_; }
    const std::vector<double>& b3() const { return b3_; }
    Matrix& w1() { return w1_; }
    Matrix& w2() { return w2_; }
    Matrix& w3() { return w3_; }
    std::vector<double>& b1() { return b1_; }
    std::vector<double>& b2() { return b2_; }
    std::vector<double>& b3() { return b3_; }

    bool operator==(const NeuralPredecoder&) const = default;

private:
    // Activations of one forward pass: clamped pre-activations and outputs.
    struct Pass {
        std::vector<double> x, p1, h1, p2, h2, y;
    };
    void forward(std::span<const uint8_t> input, Pass& pass) const;

    uint64_t n_input_ = 0, n_output_ = 0, n_hidden1_ = 0, n_hidden2_ = 0;
    Matrix w1_, w2_, w3_;
    std::vector<double> b1_, b2_, b3_;
};

}  // namespace vornex
