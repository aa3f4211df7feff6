// Tensors and dense kernels of the graph network: message-passing layers,
// the edge readout, and the affine, transposed and decayed-update products
// that the forward pass and the per-sample gradient step are made of.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "base/memory_budget.h"
#include "base/wyrand.h"

namespace vornex {

// Row-major matrix, one row per output unit.
struct Matrix {
    size_t rows = 0;
    size_t cols = 0;
    std::vector<double> data;

    Matrix() = default;
    Matrix(size_t r, size_t c) : rows(r), cols(c), data(r * c, 0.0) {}
    double* row(size_t i) { return data.data() + i * cols; }
    const double* row(size_t i) const { return data.data() + i * cols; }
    bool operator==(const Matrix&) const = default;
};

// One message-passing layer: messages from [h_owner ; x_edge], node update
// from [h_node ; mean of incoming messages].
struct MessagePassingLayer {
    size_t in_dim = 0;
    size_t hidden = 0;
    Matrix w_message;  // hidden x (in_dim + edge_dim)
    std::vector<double> b_message;
    Matrix w_update;  // hidden x (in_dim + hidden)
    std::vector<double> b_update;

    MessagePassingLayer() = default;
    MessagePassingLayer(size_t in, size_t edge_dim, size_t h)
        : in_dim(in), hidden(h), w_message(h, in + edge_dim), b_message(h, 0.0), w_update(h, in + h),
          b_update(h, 0.0) {}
    bool operator==(const MessagePassingLayer&) const = default;
};

// Two-layer map from an edge's context [h_src ; h_dst ; x_edge] to one number.
struct EdgeReadout {
    Matrix w1;  // hidden x (2 * embed + edge_dim)
    std::vector<double> b1;
    Matrix w2;  // 1 x hidden
    std::vector<double> b2;  // 1

    EdgeReadout() = default;
    EdgeReadout(size_t embed, size_t edge_dim, size_t h)
        : w1(h, 2 * embed + edge_dim), b1(h, 0.0), w2(1, h), b2(1, 0.0) {}
    bool operator==(const EdgeReadout&) const = default;
};

// Scaled-uniform (He-style) fill: (2u - 1) * sqrt(2 / row length), row by row.
void init_uniform(Matrix& m, Wyrand& rng);

inline double clip10(double v) { return std::clamp(v, -10.0, 10.0); }
inline double relu(double v) { return v > 0.0 ? v : 0.0; }

// out[i] = b[i] + sum_j W[i][j] * [a ; c][j], each sum from the bias in index
// order; the concatenation is never materialised.
void affine_concat(const Matrix& w, const double* b, const double* a, size_t na, const double* c, size_t nc,
                   double* out);

// out[j] = clip(sum_i W[i][j] * delta[i]) for j < W.cols.
void transposed_clipped(const Matrix& w, const double* delta, double* out);

// Gradient step with L2 decay at this very update:
// W[i][j] -= (lambda * W[i][j] + [a ; c][j] * delta[i]) * eta;  b[i] -= delta[i] * eta.
void decayed_step(Matrix& w, std::vector<double>& b, const double* a, size_t na, const double* c, size_t nc,
                  const double* delta, double eta, double lambda);

}  // namespace vornex
