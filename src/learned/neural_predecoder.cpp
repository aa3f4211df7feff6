#include "learned/neural_predecoder.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "base/wyrand.h"
#include "learned/training_limits.h"

namespace vornex {
namespace {

constexpr double kPreActivationLimit = 50.0;

double leaky(double v) { return v > 0.0 ? v : 0.01 * v; }
double leaky_slope(double v) { return v > 0.0 ? 1.0 : 0.01; }

double sigmoid(double v) {
    if (v >= 0.0) return 1.0 / (1.0 + std::exp(-v));
    const double e = std::exp(v);
    return e / (1.0 + e);
}

// Clamped affine map: out[i] = clamp(sum_j W[i][j] x[j] + b[i], -50, 50).
// Unlike the graph network, the bias is added after the products.
void clamped_affine(const Matrix& w, const std::vector<double>& b, const std::vector<double>& x,
                    std::vector<double>& out) {
    out.resize(w.rows);
    const size_t n = std::min(w.cols, x.size());
    for (size_t i = 0; i < w.rows; ++i) {
        const double* wi = w.row(i);
        double s = 0.0;
        for (size_t j = 0; j < n; ++j) s += wi[j] * x[j];
        out[i] = std::clamp(s + b[i], -kPreActivationLimit, kPreActivationLimit);
    }
}

void he_uniform(Matrix& m, Wyrand& rng) {
    const double scale = std::sqrt(2.0 / static_cast<double>(m.cols));
    for (double& v : m.data) v = (2.0 * rng.next_unit() - 1.0) * scale;
}

// Whether the three weight matrices, each row with its bias, fit in memory.
bool fits(double n_input, double n_hidden1, double n_hidden2, double n_output) {
    const double values = n_hidden1 * (n_input + 1) + n_hidden2 * (n_hidden1 + 1) + n_output * (n_hidden2 + 1);
    return fits_in_memory(values * sizeof(double));
}

// One dense layer's step back from its output error d: `error_in` (when
// given) receives Wᵀd, read before the weights move; then W -= η d ⊗ input
// and b -= η d.
void step_back(Matrix& w, std::vector<double>& b, std::span<const double> d, std::span<const double> input,
               double eta, std::vector<double>* error_in) {
    if (error_in != nullptr) {
        std::fill(error_in->begin(), error_in->end(), 0.0);
        for (size_t k = 0; k < d.size(); ++k)
            for (size_t j = 0; j < input.size(); ++j) (*error_in)[j] += w.row(k)[j] * d[k];
    }
    for (size_t k = 0; k < d.size(); ++k) {
        double* row = w.row(k);
        for (size_t j = 0; j < input.size(); ++j) row[j] -= input[j] * (d[k] * eta);
        b[k] -= d[k] * eta;
    }
}

}  // namespace

Result<NeuralPredecoder> NeuralPredecoder::create(uint64_t n_input, uint64_t n_output,
                                                  std::optional<uint64_t> n_hidden1,
                                                  std::optional<uint64_t> n_hidden2) {
    const uint64_t half = n_input / 2 + n_output / 2 + (n_input % 2 + n_output % 2) / 2;
    NeuralPredecoder net;
    net.n_input_ = n_input;
    net.n_output_ = n_output;
    net.n_hidden1_ = n_hidden1.value_or(half);
    net.n_hidden2_ = n_hidden2.value_or(half);
    if (!fits(static_cast<double>(n_input), static_cast<double>(net.n_hidden1_), static_cast<double>(net.n_hidden2_),
              static_cast<double>(n_output)))
        return value_error("NeuralPredecoder sizes are too large to allocate");
    net.w1_ = Matrix(net.n_hidden1_, n_input);
    net.w2_ = Matrix(net.n_hidden2_, net.n_hidden1_);
    net.w3_ = Matrix(n_output, net.n_hidden2_);
    net.b1_.assign(net.n_hidden1_, 0.0);
    net.b2_.assign(net.n_hidden2_, 0.0);
    net.b3_.assign(n_output, 0.0);
    Wyrand rng((n_input << 48) ^ (n_output << 32) ^ (net.n_hidden1_ << 16) ^ net.n_hidden2_ ^ 0x9e3779b97f4a7c15ull);
    he_uniform(net.w1_, rng);
    he_uniform(net.w2_, rng);
    he_uniform(net.w3_, rng);
    return net;
}

void NeuralPredecoder::forward(std::span<const uint8_t> input, Pass& pass) const {
    pass.x.assign(input.begin(), input.end());
    clamped_affine(w1_, b1_, pass.x, pass.p1);
    pass.h1.resize(pass.p1.size());
    std::transform(pass.p1.begin(), pass.p1.end(), pass.h1.begin(), leaky);
    clamped_affine(w2_, b2_, pass.h1, pass.p2);
    pass.h2.resize(pass.p2.size());
    std::transform(pass.p2.begin(), pass.p2.end(), pass.h2.begin(), leaky);
    clamped_affine(w3_, b3_, pass.h2, pass.y);
    std::transform(pass.y.begin(), pass.y.end(), pass.y.begin(), sigmoid);
}

Result<std::vector<double>> NeuralPredecoder::predict(std::span<const uint8_t> syndrome) const {
    if (syndrome.size() != n_input_)
        return value_error("Syndrome length " + std::to_string(syndrome.size()) + " != n_input " +
                           std::to_string(n_input_));
    Pass pass;
    forward(syndrome, pass);
    return std::move(pass.y);
}

Result<std::vector<uint8_t>> NeuralPredecoder::decode(std::span<const uint8_t> syndrome) const {
    auto probs = predict(syndrome);
    if (!probs) return probs.error();
    std::vector<uint8_t> out(probs.value().size());
    for (size_t k = 0; k < out.size(); ++k) out[k] = probs.value()[k] >= 0.5;
    return out;
}

Status NeuralPredecoder::train(std::span<const uint8_t> syndromes, std::span<const uint8_t> corrections,
                               uint64_t n_epochs, double learning_rate, ProgressSink* progress) {
    if (n_input_ == 0) return value_error("NeuralPredecoder::train requires n_input >= 1");
    const uint64_t n_samples = syndromes.size() / n_input_;
    uint64_t expected = 0;
    if (__builtin_mul_overflow(n_samples, n_output_, &expected) || corrections.size() != expected)
        return value_error("corrections must hold n_samples * n_output = " + std::to_string(expected) +
                           " elements, got " + std::to_string(corrections.size()));
    // Forward pass, back-propagation and update each touch every weight once.
    const double weights = static_cast<double>(n_hidden1_) * static_cast<double>(n_input_) +
                           static_cast<double>(n_hidden2_) * static_cast<double>(n_hidden1_) +
                           static_cast<double>(n_output_) * static_cast<double>(n_hidden2_);
    if (Status s = check_training_size(n_epochs, static_cast<double>(n_samples), 3 * weights); !s) return s;
    if (n_samples == 0) return ok_status();
    const double eta = learning_rate;
    Pass pass;
    std::vector<double> d3(n_output_), e2(n_hidden2_), d2(n_hidden2_), e1(n_hidden1_), d1(n_hidden1_);
    for (uint64_t epoch = 0; epoch < n_epochs; ++epoch) {
        for (uint64_t s = 0; s < n_samples; ++s) {
            forward(syndromes.subspan(s * n_input_, n_input_), pass);
            const uint8_t* t = corrections.data() + s * n_output_;
            // Through the sigmoid, the cross-entropy gradient is y - t.
            for (size_t k = 0; k < n_output_; ++k) d3[k] = pass.y[k] - static_cast<double>(t[k]);
            step_back(w3_, b3_, d3, pass.h2, eta, &e2);
            // The clamp is not differentiated: the slope is taken on the
            // clamped pre-activation.
            for (size_t j = 0; j < n_hidden2_; ++j) d2[j] = leaky_slope(pass.p2[j]) * e2[j];
            step_back(w2_, b2_, d2, pass.h1, eta, &e1);
            for (size_t i = 0; i < n_hidden1_; ++i) d1[i] = leaky_slope(pass.p1[i]) * e1[i];
            step_back(w1_, b1_, d1, pass.x, eta, nullptr);
            // Samples are quick: the sink hears of every 64th.
            const uint64_t done = epoch * n_samples + s + 1;
            if (progress != nullptr && done % 64 == 0 && !progress->report(done, n_epochs * n_samples))
                return interrupted_error();
        }
    }
    if (progress != nullptr) progress->report(n_epochs * n_samples, n_epochs * n_samples);
    return ok_status();
}

}  // namespace vornex
