#include "learned/edge_residual_network.h"

#include <algorithm>
#include <cmath>

#include "learned/gnn_weights.h"

namespace vornex {
namespace {

constexpr double kAdamBeta1 = 0.9;
constexpr double kAdamBeta2 = 0.999;
constexpr double kAdamEpsilon = 1e-8;

}  // namespace

EdgeResidualNetwork::EdgeResidualNetwork(size_t n_inputs, size_t hidden_size, size_t n_layers, uint64_t seed)
    : n_inputs_(n_inputs), hidden_(hidden_size), n_layers_(hidden_size == 0 ? 0 : n_layers) {
    size_t in = n_inputs, offset = 0;
    for (size_t l = 0; l <= n_layers_; ++l) {
        const size_t out = l < n_layers_ ? hidden_ : 1;
        layers_.push_back({in, out, offset, offset + in * out});
        offset += in * out + out;
        in = out;
    }
    parameters_.assign(offset, 0.0);
    // He-style uniform start for the hidden layers; the output layer stays 0.
    Wyrand rng(seed);
    for (size_t l = 0; l < n_layers_; ++l) {
        const double scale = std::sqrt(6.0 / static_cast<double>(std::max<size_t>(layers_[l].in, 1)));
        for (size_t i = 0; i < layers_[l].in * layers_[l].out; ++i)
            parameters_[layers_[l].weights + i] = (2 * rng.next_unit() - 1) * scale;
    }
    moment1_.assign(offset, 0.0);
    moment2_.assign(offset, 0.0);
}

double EdgeResidualNetwork::evaluate(std::span<const double> inputs, Trace& trace) const {
    trace.activations.resize(n_layers_ * hidden_);
    const double* x = inputs.data();
    for (size_t l = 0; l <= n_layers_; ++l) {
        const Layer& layer = layers_[l];
        const double* w = parameters_.data() + layer.weights;
        const double* b = parameters_.data() + layer.biases;
        if (l == n_layers_) {
            double out = b[0];
            for (size_t j = 0; j < layer.in; ++j) out += w[j] * x[j];
            return out;
        }
        double* y = trace.activations.data() + l * hidden_;
        for (size_t i = 0; i < layer.out; ++i) {
            double sum = b[i];
            const double* row = w + i * layer.in;
            for (size_t j = 0; j < layer.in; ++j) sum += row[j] * x[j];
            y[i] = sum > 0.0 ? sum : 0.0;
        }
        x = y;
    }
    return 0.0;  // not reached: the output layer returns
}

void EdgeResidualNetwork::accumulate_gradient(std::span<const double> inputs, Trace& trace, double output_gradient,
                                              std::span<double> gradient) const {
    trace.delta.assign(1, output_gradient);
    for (size_t l = n_layers_ + 1; l-- > 0;) {
        const Layer& layer = layers_[l];
        const double* x = l == 0 ? inputs.data() : trace.activations.data() + (l - 1) * hidden_;
        const double* w = parameters_.data() + layer.weights;
        double* gw = gradient.data() + layer.weights;
        double* gb = gradient.data() + layer.biases;
        for (size_t i = 0; i < layer.out; ++i) {
            const double d = trace.delta[i];
            if (d == 0.0) continue;
            gb[i] += d;
            for (size_t j = 0; j < layer.in; ++j) gw[i * layer.in + j] += d * x[j];
        }
        if (l == 0) break;
        // Through the weights and the ReLU of the layer below (zero output,
        // zero gradient).
        trace.lower.assign(layer.in, 0.0);
        for (size_t i = 0; i < layer.out; ++i) {
            const double d = trace.delta[i];
            if (d == 0.0) continue;
            for (size_t j = 0; j < layer.in; ++j) trace.lower[j] += d * w[i * layer.in + j];
        }
        for (size_t j = 0; j < layer.in; ++j)
            if (x[j] <= 0.0) trace.lower[j] = 0.0;
        std::swap(trace.delta, trace.lower);
    }
}

void EdgeResidualNetwork::adam_step(std::span<const double> gradient, double rate) {
    ++steps_;
    const double correction1 = 1.0 - std::pow(kAdamBeta1, static_cast<double>(steps_));
    const double correction2 = 1.0 - std::pow(kAdamBeta2, static_cast<double>(steps_));
    for (size_t i = 0; i < parameters_.size(); ++i) {
        moment1_[i] = kAdamBeta1 * moment1_[i] + (1 - kAdamBeta1) * gradient[i];
        moment2_[i] = kAdamBeta2 * moment2_[i] + (1 - kAdamBeta2) * gradient[i] * gradient[i];
        const double mean = moment1_[i] / correction1;
        const double spread = std::sqrt(moment2_[i] / correction2) + kAdamEpsilon;
        parameters_[i] -= rate * mean / spread;
    }
}

template <class Visit>
void EdgeResidualNetwork::for_each_tensor(Visit visit) const {
    for (size_t l = 0; l <= n_layers_; ++l) {
        const Layer& layer = layers_[l];
        const std::string name = l < n_layers_ ? "hidden." + std::to_string(l) : std::string("output");
        visit(name + ".weight", std::vector<uint64_t>{layer.out, layer.in}, layer.weights, layer.in * layer.out);
        visit(name + ".bias", std::vector<uint64_t>{layer.out}, layer.biases, layer.out);
    }
}

Status EdgeResidualNetwork::save_weights(const std::string& path) const {
    std::vector<F64Tensor> tensors;
    for_each_tensor([&](std::string name, std::vector<uint64_t> shape, size_t offset, size_t size) {
        tensors.push_back({std::move(name), std::move(shape), std::span(parameters_).subspan(offset, size)});
    });
    return write_safetensors(path, std::move(tensors));
}

Status EdgeResidualNetwork::load_weights(const std::string& path) {
    auto file = SafetensorsReader::open(path);
    if (!file) return file.error();
    std::vector<std::pair<const TensorEntry*, std::span<double>>> copies;
    Status status = ok_status();
    for_each_tensor([&](std::string name, std::vector<uint64_t> shape, size_t offset, size_t size) {
        if (!status) return;
        auto tensor = find_f64_tensor(file.value(), name, shape);
        if (!tensor) {
            status = tensor.error();
            return;
        }
        copies.emplace_back(tensor.value(), std::span(parameters_).subspan(offset, size));
    });
    if (!status) return status;
    for (const auto& [tensor, values] : copies) copy_f64_values(*tensor, values);
    return ok_status();
}

}  // namespace vornex
