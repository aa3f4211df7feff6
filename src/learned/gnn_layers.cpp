#include "learned/gnn_layers.h"

#include <cmath>

namespace vornex {

void init_uniform(Matrix& m, Wyrand& rng) {
    const double scale = std::sqrt(2.0 / static_cast<double>(m.cols));
    for (double& v : m.data) v = (2.0 * rng.next_unit() - 1.0) * scale;
}

void affine_concat(const Matrix& w, const double* b, const double* a, size_t na, const double* c, size_t nc,
                   double* out) {
    for (size_t i = 0; i < w.rows; ++i) {
        const double* wi = w.row(i);
        double acc = b[i];
        for (size_t j = 0; j < na; ++j) acc += wi[j] * a[j];
        for (size_t j = 0; j < nc; ++j) acc += wi[na + j] * c[j];
        out[i] = acc;
    }
}

void transposed_clipped(const Matrix& w, const double* delta, double* out) {
    std::fill(out, out + w.cols, 0.0);
    for (size_t i = 0; i < w.rows; ++i) {
        const double* wi = w.row(i);
        const double d = delta[i];
        for (size_t j = 0; j < w.cols; ++j) out[j] += wi[j] * d;
    }
    for (size_t j = 0; j < w.cols; ++j) out[j] = clip10(out[j]);
}

void decayed_step(Matrix& w, std::vector<double>& b, const double* a, size_t na, const double* c, size_t nc,
                  const double* delta, double eta, double lambda) {
    for (size_t i = 0; i < w.rows; ++i) {
        double* wi = w.row(i);
        const double d = delta[i];
        for (size_t j = 0; j < na; ++j) wi[j] -= (lambda * wi[j] + a[j] * d) * eta;
        for (size_t j = 0; j < nc; ++j) wi[na + j] -= (lambda * wi[na + j] + c[j] * d) * eta;
        b[i] -= d * eta;
    }
}

}  // namespace vornex
