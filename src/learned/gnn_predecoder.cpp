#include "learned/gnn_predecoder.h"

#include "learned/gnn_weights.h"
#include "learned/training_limits.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <string>

namespace vornex {

double gnn_softplus(double v) {
    if (v > 40.0) return v;
    if (v < -40.0) return std::exp(v);
    return std::log(std::exp(v) + 1.0);
}

double gnn_sigmoid(double v) {
    if (v >= 0.0) return 1.0 / (std::exp(-v) + 1.0);
    const double e = std::exp(v);
    return e / (e + 1.0);
}

namespace {

// Bytes of all tensors of a network of these sizes.
double parameter_bytes(double in0, double edge, double hidden, double n_layers) {
    const double first = hidden * (in0 + edge) + hidden * (in0 + hidden) + 2 * hidden;
    const double other = hidden * (hidden + edge) + hidden * (2 * hidden) + 2 * hidden;
    const double embed = n_layers > 0 ? hidden : in0;
    const double readout = hidden * (2 * embed + edge) + 2 * hidden + 1;
    const double layers = n_layers > 0 ? first + (n_layers - 1) * other : 0.0;
    return (layers + readout) * sizeof(double) + n_layers * sizeof(MessagePassingLayer);
}

}  // namespace

GNNPredecoder::GNNPredecoder(size_t node_feat_dim, size_t edge_feat_dim, size_t hidden_size, size_t n_layers)
    : GNNPredecoder(node_feat_dim, edge_feat_dim, hidden_size, n_layers, thread_rng()) {}

GNNPredecoder::GNNPredecoder(size_t node_feat_dim, size_t edge_feat_dim, size_t hidden_size, size_t n_layers,
                             Wyrand& seed_source)
    : node_feat_dim_(node_feat_dim), edge_feat_dim_(edge_feat_dim), hidden_(hidden_size) {
    // The sizes are the caller's: refuse a network that cannot be held
    // before any matrix size is formed (a wrapped product would under-allocate).
    if (!fits_in_memory(parameter_bytes(static_cast<double>(node_feat_dim), static_cast<double>(edge_feat_dim),
                                        static_cast<double>(hidden_size), static_cast<double>(n_layers))))
        throw std::bad_alloc();
    layers_.reserve(n_layers);
    for (size_t i = 0; i < n_layers; ++i) {
        layers_.emplace_back(i == 0 ? node_feat_dim : hidden_size, edge_feat_dim, hidden_size);
        Wyrand rng(seed_source.next_u64());
        init_uniform(layers_.back().w_message, rng);
        init_uniform(layers_.back().w_update, rng);
    }
    readout_ = EdgeReadout(embed_dim(), edge_feat_dim, hidden_size);
    Wyrand rng(seed_source.next_u64());
    init_uniform(readout_.w1, rng);
    init_uniform(readout_.w2, rng);
}

Status GNNPredecoder::check_graph(const DetectorGraph& graph) const {
    if (graph.node_feature_dim() != node_feat_dim_)
        return value_error("Graph node feature width " + std::to_string(graph.node_feature_dim()) +
                           " != node_feat_dim " + std::to_string(node_feat_dim_));
    if (graph.edge_feature_dim() != edge_feat_dim_)
        return value_error("Graph edge feature width " + std::to_string(graph.edge_feature_dim()) +
                           " != edge_feat_dim " + std::to_string(edge_feat_dim_));
    // Activations of a pass over this graph, forward and backward: per layer
    // the input, aggregate and mask rows of every node; per edge a message,
    // readout activations and mask, and the backward message gradient.
    const double nodes = static_cast<double>(graph.n_nodes());
    const double edges = static_cast<double>(graph.n_edges());
    const double h = static_cast<double>(hidden_);
    const double widest = static_cast<double>(std::max(node_feat_dim_, hidden_));
    const double values = static_cast<double>(layers_.size()) * nodes * (widest + 2 * h) + 3 * nodes * widest +
                          edges * (4 * h + 2);
    if (!fits_in_memory(values * sizeof(double))) throw std::bad_alloc();
    return ok_status();
}

// Forward pass keeping every activation the gradient step needs.
void GNNPredecoder::run_forward(const DetectorGraph& graph, GnnWorkspace& ws) const {
    const size_t n = graph.n_nodes();
    const size_t ne = graph.n_edges();
    const size_t h = hidden_;
    const size_t ed = edge_feat_dim_;
    const auto& src = graph.edge_src();
    const auto& dst = graph.edge_dst();
    if (ws.layers.size() < layers_.size()) ws.layers.resize(layers_.size());

    const auto features = graph.node_features();
    std::vector<double>& first = layers_.empty() ? ws.embed : ws.layers[0].h_in;
    first.assign(features.begin(), features.end());

    ws.messages.resize(ne * h);
    for (size_t l = 0; l < layers_.size(); ++l) {
        const MessagePassingLayer& layer = layers_[l];
        LayerTrace& trace = ws.layers[l];
        const size_t in = layer.in_dim;
        const double* hin = trace.h_in.data();
        // Messages are computed once per edge from its lower-numbered
        // endpoint; both endpoints aggregate the same message.
        for (size_t e = 0; e < ne; ++e) {
            const uint32_t owner = std::min(src[e], dst[e]);
            affine_concat(layer.w_message, layer.b_message.data(), hin + owner * in, in,
                          graph.edge_feature(e).data(), ed, ws.messages.data() + e * h);
        }
        trace.agg.assign(n * h, 0.0);
        for (size_t v = 0; v < n; ++v) {
            const auto adj = graph.neighbours(v);
            if (adj.empty()) continue;
            double* a = trace.agg.data() + v * h;
            for (const GraphNeighbour& nb : adj) {
                const double* m = ws.messages.data() + size_t{nb.edge} * h;
                for (size_t i = 0; i < h; ++i) a[i] += m[i];
            }
            const double count = static_cast<double>(adj.size());
            for (size_t i = 0; i < h; ++i) a[i] /= count;
        }
        std::vector<double>& out = (l + 1 < layers_.size()) ? ws.layers[l + 1].h_in : ws.embed;
        out.resize(n * h);
        trace.mask.resize(n * h);
        for (size_t v = 0; v < n; ++v) {
            double* p = out.data() + v * h;
            affine_concat(layer.w_update, layer.b_update.data(), hin + v * in, in, trace.agg.data() + v * h, h, p);
            uint8_t* mask = trace.mask.data() + v * h;
            for (size_t i = 0; i < h; ++i) {
                mask[i] = p[i] > 0.0;
                p[i] = relu(p[i]);
            }
        }
    }

    const size_t emb = embed_dim();
    ws.readout_r.resize(ne * h);
    ws.readout_mask.resize(ne * h);
    ws.raw.resize(ne);
    ws.weights.resize(ne);
    ws.context.resize(2 * emb + ed);
    for (size_t k = 0; k < ne; ++k) {
        std::copy_n(ws.embed.data() + size_t{src[k]} * emb, emb, ws.context.data());
        std::copy_n(ws.embed.data() + size_t{dst[k]} * emb, emb, ws.context.data() + emb);
        const auto x = graph.edge_feature(k);
        std::copy(x.begin(), x.end(), ws.context.data() + 2 * emb);
        double* r = ws.readout_r.data() + k * h;
        affine_concat(readout_.w1, readout_.b1.data(), ws.context.data(), ws.context.size(), nullptr, 0, r);
        uint8_t* mask = ws.readout_mask.data() + k * h;
        for (size_t i = 0; i < h; ++i) {
            mask[i] = r[i] > 0.0;
            r[i] = relu(r[i]);
        }
        double raw = readout_.b2[0];
        const double* w2 = readout_.w2.row(0);
        for (size_t i = 0; i < h; ++i) raw += w2[i] * r[i];
        ws.raw[k] = raw;
        ws.weights[k] = std::clamp(gnn_softplus(raw), kMinWeight, kMaxWeight);
    }
}

Status GNNPredecoder::forward_into(const DetectorGraph& graph, GnnWorkspace& ws, std::vector<double>& out) const {
    if (Status s = check_graph(graph); !s) return s;
    run_forward(graph, ws);
    out.assign(ws.weights.begin(), ws.weights.end());
    return ok_status();
}

Result<std::vector<double>> GNNPredecoder::forward(const DetectorGraph& graph) const {
    GnnWorkspace ws;
    std::vector<double> out;
    if (Status s = forward_into(graph, ws, out); !s) return s.error();
    return out;
}

Result<std::pair<std::vector<double>, std::vector<double>>> GNNPredecoder::predict_with_node_probs(
    const DetectorGraph& graph) const {
    auto weights = forward(graph);
    if (!weights) return weights.error();
    const size_t n = graph.n_nodes();
    std::vector<double> sum(n, 0.0);
    std::vector<uint64_t> count(n, 0);
    for (size_t k = 0; k < graph.n_edges(); ++k) {
        const double w = weights.value()[k];
        sum[graph.edge_src()[k]] += w;
        ++count[graph.edge_src()[k]];
        sum[graph.edge_dst()[k]] += w;
        ++count[graph.edge_dst()[k]];
    }
    std::vector<double> probs(n);
    for (size_t v = 0; v < n; ++v) {
        const double mean = count[v] ? sum[v] / static_cast<double>(count[v]) : 0.0;
        probs[v] = 1.0 / (std::exp(1.0 - mean) + 1.0);
    }
    return std::pair{std::move(weights).value(), std::move(probs)};
}

// One stochastic gradient step on the mean squared error of one graph. The
// readout is updated edge by edge and the layers node by node and edge by
// edge, each update seeing the weights left by the previous one; every
// backward product is clipped to [-10, 10].
void GNNPredecoder::train_step(const DetectorGraph& graph, std::span<const double> target, GnnWorkspace& ws) {
    run_forward(graph, ws);
    const size_t n = graph.n_nodes();
    const size_t ne = graph.n_edges();
    const size_t h = hidden_;
    const size_t ed = edge_feat_dim_;
    const size_t emb = embed_dim();
    const double eta = learning_rate_;
    const double lambda = l2_lambda_;
    const auto& src = graph.edge_src();
    const auto& dst = graph.edge_dst();

    // Output gradients, all taken before any update.
    ws.grad_out.resize(ne);
    const double inv_edges = 1.0 / static_cast<double>(ne);
    for (size_t k = 0; k < ne; ++k) {
        const double raw = ws.raw[k];
        if (!(raw < 100.0)) {
            ws.grad_out[k] = 0.0;
            continue;
        }
        const double t = std::clamp(target[k], kMinWeight, kMaxWeight);
        ws.grad_out[k] = std::clamp(gnn_sigmoid(raw) * (2.0 * (ws.weights[k] - t)) * inv_edges, -1.0, 1.0);
    }

    // Readout, edge by edge; node gradients gather in ws.grad.
    ws.grad.assign(n * emb, 0.0);
    ws.delta.resize(h);
    ws.column.resize(2 * emb + ed);
    ws.context.resize(2 * emb + ed);
    double* w2 = readout_.w2.row(0);
    for (size_t k = 0; k < ne; ++k) {
        const double g = ws.grad_out[k];
        const double* r = ws.readout_r.data() + k * h;
        const uint8_t* mask = ws.readout_mask.data() + k * h;
        for (size_t i = 0; i < h; ++i) ws.delta[i] = clip10(w2[i] * g);
        for (size_t i = 0; i < h; ++i) w2[i] -= (lambda * w2[i] + r[i] * g) * eta;
        readout_.b2[0] -= g * eta;
        for (size_t i = 0; i < h; ++i) ws.delta[i] = clip10(mask[i] ? ws.delta[i] : 0.0);
        transposed_clipped(readout_.w1, ws.delta.data(), ws.column.data());
        std::copy_n(ws.embed.data() + size_t{src[k]} * emb, emb, ws.context.data());
        std::copy_n(ws.embed.data() + size_t{dst[k]} * emb, emb, ws.context.data() + emb);
        const auto x = graph.edge_feature(k);
        std::copy(x.begin(), x.end(), ws.context.data() + 2 * emb);
        decayed_step(readout_.w1, readout_.b1, ws.context.data(), ws.context.size(), nullptr, 0, ws.delta.data(),
                     eta, lambda);
        double* gs = ws.grad.data() + size_t{src[k]} * emb;
        double* gd = ws.grad.data() + size_t{dst[k]} * emb;
        for (size_t i = 0; i < emb; ++i) gs[i] += ws.column[i];
        for (size_t i = 0; i < emb; ++i) gd[i] += ws.column[emb + i];
    }

    // Layers, last to first.
    for (size_t l = layers_.size(); l-- > 0;) {
        MessagePassingLayer& layer = layers_[l];
        const LayerTrace& trace = ws.layers[l];
        const size_t in = layer.in_dim;
        ws.grad_lower.assign(n * in, 0.0);
        ws.mu.assign(ne * h, 0.0);
        ws.column.resize(std::max(in + h, in + ed));
        // Update weights, node by node; the aggregate part of each node's
        // input gradient is spread back over its incoming messages.
        for (size_t v = 0; v < n; ++v) {
            const double* gv = ws.grad.data() + v * h;
            const uint8_t* mask = trace.mask.data() + v * h;
            for (size_t i = 0; i < h; ++i) ws.delta[i] = clip10(mask[i] ? gv[i] : 0.0);
            transposed_clipped(layer.w_update, ws.delta.data(), ws.column.data());
            decayed_step(layer.w_update, layer.b_update, trace.h_in.data() + v * in, in, trace.agg.data() + v * h, h,
                         ws.delta.data(), eta, lambda);
            std::copy_n(ws.column.data(), in, ws.grad_lower.data() + v * in);
            const auto adj = graph.neighbours(v);
            if (adj.empty()) continue;
            const double share = 1.0 / static_cast<double>(adj.size());
            const double* a = ws.column.data() + in;
            for (const GraphNeighbour& nb : adj) {
                double* mu = ws.mu.data() + size_t{nb.edge} * h;
                for (size_t i = 0; i < h; ++i) mu[i] += share * a[i];
            }
        }
        // Message weights, edge by edge; the embedding part goes to the owner.
        for (size_t e = 0; e < ne; ++e) {
            const uint32_t owner = std::min(src[e], dst[e]);
            const double* mu = ws.mu.data() + e * h;
            transposed_clipped(layer.w_message, mu, ws.column.data());
            decayed_step(layer.w_message, layer.b_message, trace.h_in.data() + size_t{owner} * in, in,
                         graph.edge_feature(e).data(), ed, mu, eta, lambda);
            double* d = ws.grad_lower.data() + size_t{owner} * in;
            for (size_t j = 0; j < in; ++j) d[j] += ws.column[j];
        }
        std::swap(ws.grad, ws.grad_lower);
    }
}

namespace {

std::string layer_tensor(size_t layer, const char* field) {
    return "layers." + std::to_string(layer) + "." + field;
}

// Calls visit(name, shape, values) for every tensor of the weights file, in
// the order a load checks and copies them: the layers in order, then the
// readout. `Net` is GNNPredecoder or const GNNPredecoder.
template <class Net, class Visit>
void for_each_tensor(Net& net, Visit visit) {
    const auto matrix = [&](std::string name, auto& m) { visit(std::move(name), {m.rows, m.cols}, std::span(m.data)); };
    const auto vector = [&](std::string name, auto& v) { visit(std::move(name), {v.size()}, std::span(v)); };
    for (size_t i = 0; i < net.layers().size(); ++i) {
        auto& layer = net.layers()[i];
        matrix(layer_tensor(i, "w_message"), layer.w_message);
        vector(layer_tensor(i, "b_message"), layer.b_message);
        matrix(layer_tensor(i, "w_update"), layer.w_update);
        vector(layer_tensor(i, "b_update"), layer.b_update);
    }
    auto& readout = net.readout();
    matrix("edge_readout.w1", readout.w1);
    vector("edge_readout.b1", readout.b1);
    matrix("edge_readout.w2", readout.w2);
    vector("edge_readout.b2", readout.b2);
}

}  // namespace

double GNNPredecoder::parameter_count() const {
    double count = 0;
    for_each_tensor(*this, [&](std::string, std::vector<uint64_t>, std::span<const double> values) {
        count += static_cast<double>(values.size());
    });
    return count;
}

Status GNNPredecoder::train(std::span<const DetectorGraph* const> graphs, std::span<const std::vector<double>> targets,
                            uint64_t n_epochs, ProgressSink* progress) {
    if (graphs.size() != targets.size())
        return value_error("graphs and targets must have the same length (" + std::to_string(graphs.size()) +
                           " != " + std::to_string(targets.size()) + ")");
    double items = 0;  // nodes and edges over all graphs: each meets every weight about once per step
    for (const DetectorGraph* graph : graphs) {
        if (Status s = check_graph(*graph); !s) return s;
        items += static_cast<double>(graph->n_nodes()) + static_cast<double>(graph->n_edges());
    }
    const double samples = static_cast<double>(graphs.size());
    const double cost = samples > 0 ? 3 * parameter_count() * items / samples : 0.0;
    if (Status s = check_training_size(n_epochs, samples, cost); !s) return s;
    GnnWorkspace ws;
    const uint64_t steps = n_epochs * graphs.size();
    for (uint64_t epoch = 0; epoch < n_epochs; ++epoch)
        for (size_t i = 0; i < graphs.size(); ++i) {
            if (targets[i].size() == graphs[i]->n_edges()) train_step(*graphs[i], targets[i], ws);
            if (progress != nullptr && !progress->report(epoch * graphs.size() + i + 1, steps))
                return interrupted_error();
        }
    return ok_status();
}

Status GNNPredecoder::train(std::span<const DetectorGraph> graphs, std::span<const std::vector<double>> targets,
                            uint64_t n_epochs, ProgressSink* progress) {
    std::vector<const DetectorGraph*> pointers;
    pointers.reserve(graphs.size());
    for (const DetectorGraph& g : graphs) pointers.push_back(&g);
    return train(std::span<const DetectorGraph* const>(pointers), targets, n_epochs, progress);
}

Result<double> GNNPredecoder::loss(std::span<const DetectorGraph> graphs,
                                   std::span<const std::vector<double>> targets) const {
    GnnWorkspace ws;
    std::vector<double> w;
    double sum = 0.0;
    uint64_t count = 0;
    const size_t n = std::min(graphs.size(), targets.size());
    for (size_t i = 0; i < n; ++i) {
        if (Status s = forward_into(graphs[i], ws, w); !s) return s.error();
        const size_t terms = std::min(w.size(), targets[i].size());
        for (size_t j = 0; j < terms; ++j) {
            const double d = w[j] - targets[i][j];
            sum += d * d;
        }
        count += terms;
    }
    return count ? sum / static_cast<double>(count) : 0.0;
}

Status GNNPredecoder::save_weights(const std::string& path) const {
    std::vector<F64Tensor> tensors;
    for_each_tensor(*this, [&](std::string name, std::vector<uint64_t> shape, std::span<const double> values) {
        tensors.push_back({std::move(name), std::move(shape), values});
    });
    return write_safetensors(path, std::move(tensors));
}

Status GNNPredecoder::load_weights(const std::string& path) {
    auto file = SafetensorsReader::open(path);
    if (!file) return file.error();
    return load_weights_from(file.value());
}

Status GNNPredecoder::load_weights_from(const SafetensorsReader& file) {
    // Every tensor is found and checked before the first value is copied,
    // so a file that fails leaves the network exactly as it was.
    std::vector<std::pair<const TensorEntry*, std::span<double>>> copies;
    Status status = ok_status();
    for_each_tensor(*this, [&](std::string name, std::vector<uint64_t> shape, std::span<double> values) {
        if (!status) return;
        auto tensor = find_f64_tensor(file, name, shape);
        if (tensor)
            copies.emplace_back(tensor.value(), values);
        else
            status = tensor.error();
    });
    if (!status) return status;
    for (const auto& [tensor, values] : copies) copy_f64_values(*tensor, values);
    return ok_status();
}

}  // namespace vornex
