#include "learned/learned_matching.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <utility>

#include "base/shape.h"
#include "base/wyrand.h"
#include "dem/model_budget.h"
#include "dem/observable_map.h"
#include "dem/shot_rows.h"
#include "matching/model_graph.h"

namespace vornex {
namespace {

// Corrected weights stay within [0, the larger of the priors' largest and
// this] (an estimate of 1e-6 at most): finite and non-negative, as the
// matching engine requires.
const double kMinCeiling = std::log((1 - 1e-6) / 1e-6);
// Largest network the constructor builds; far beyond what a few inputs need.
constexpr size_t kMaxHiddenSize = 4096;
constexpr size_t kMaxLayers = 64;
// Samples per training step: a fresh chunk each step keeps memory flat.
constexpr size_t kTrainChunk = 64;
// Held-out measurements per training run.
constexpr uint64_t kMeasurements = 10;
// Adam step size.
constexpr double kLearningRate = 3e-3;
// Partner counts whose weights are tabulated per edge: explained partners
// 1..kTabulatedExplained, each with 0..explained clean ones.
constexpr uint32_t kTabulatedExplained = 3;
constexpr size_t kTableEntries = kTabulatedExplained * (kTabulatedExplained + 3) / 2;

size_t table_index(uint32_t explained, uint32_t clean) { return (explained - 1) * (explained + 2) / 2 + clean; }

double sigmoid(double v) {
    if (v >= 0.0) return 1.0 / (1.0 + std::exp(-v));
    const double e = std::exp(v);
    return e / (1.0 + e);
}

}  // namespace

LearnedMatchingDecoder::LearnedMatchingDecoder(std::shared_ptr<const DemGraph> graph, MechanismEdges mechanisms,
                                               ExactMatcher matcher, EdgeResidualNetwork network)
    : graph_(std::move(graph)),
      mechanisms_(std::move(mechanisms)),
      features_(std::make_shared<const EventFeatures>(*graph_, mechanisms_)),
      matcher_(std::move(matcher)),
      network_(std::move(network)) {
    max_weight_ = kMinCeiling;
    for (const DemEdge& edge : graph_->edges) {
        prior_weights_.push_back(edge.weight);
        max_weight_ = std::max(max_weight_, edge.weight);
    }
    observables_ = std::make_shared<const ModelObservables>(
        ModelObservables{graph_->num_detectors, ObservableMap::from_graph(*graph_, graph_->edges.size())});
    tabulate();
}

void LearnedMatchingDecoder::tabulate() {
    tabulated_.resize(graph_->edges.size() * kTableEntries);
    EdgeResidualNetwork::Trace trace;
    std::vector<double> row(kEdgeInputCount);
    for (size_t e = 0; e < graph_->edges.size(); ++e)
        for (uint32_t explained = 1; explained <= kTabulatedExplained; ++explained)
            for (uint32_t clean = 0; clean <= explained; ++clean) {
                features_->write_row(e, explained, clean, row);
                tabulated_[e * kTableEntries + table_index(explained, clean)] =
                    corrected_weight(e, network_.evaluate(row, trace));
            }
}

Status LearnedMatchingDecoder::load_weights(const std::string& path) {
    if (Status s = network_.load_weights(path); !s) return s;
    tabulate();
    return ok_status();
}

Result<LearnedMatchingDecoder> LearnedMatchingDecoder::from_model(const DetectorErrorModel& model,
                                                                  size_t hidden_size, size_t n_layers,
                                                                  uint64_t seed) {
    if (auto fits = check_model_footprint(model, {"a learned matching decoder", 60}); !fits) return fits.error();
    if (hidden_size > kMaxHiddenSize || n_layers > kMaxLayers)
        return value_error("LearnedMatchingDecoder takes hidden_size up to " + std::to_string(kMaxHiddenSize) +
                           " and n_layers up to " + std::to_string(kMaxLayers) + "; got " +
                           std::to_string(hidden_size) + " and " + std::to_string(n_layers));
    auto built = build_dem_graph(model);
    if (!built) return built.error();
    auto graph = std::make_shared<const DemGraph>(std::move(built).value());
    // Fine rounding: a shot's corrected weights fall between the priors, and
    // the matcher must tell them apart even when every prior is the same.
    auto matching_graph = model_matching_graph(*graph, "LearnedMatchingDecoder", WeightRounding::Fine);
    if (!matching_graph) return matching_graph.error();
    if (graph->num_detectors == 0) return value_error("LearnedMatchingDecoder needs a model with detectors");
    auto matcher = ExactMatcher::create(std::move(matching_graph).value());
    if (!matcher) return matcher.error();
    MechanismEdges mechanisms = MechanismEdges::create(model, *graph);
    return LearnedMatchingDecoder(std::move(graph), std::move(mechanisms), std::move(matcher).value(),
                                  EdgeResidualNetwork(kEdgeInputCount, hidden_size, n_layers, seed));
}

LearnedMatchingDecoder::Workspace LearnedMatchingDecoder::make_workspace() const {
    return Workspace{features_->make_workspace(), {}, prior_weights_, {}, {}};
}

double LearnedMatchingDecoder::corrected_weight(size_t edge, double correction) const {
    return std::clamp(prior_weights_[edge] + correction, 0.0, max_weight_);
}

Status LearnedMatchingDecoder::read_events(std::span<const uint8_t> events, Workspace& ws) const {
    if (events.size() != graph_->num_detectors)
        return value_error("detection events have " + std::to_string(events.size()) + " entries, expected " +
                           std::to_string(graph_->num_detectors));
    ws.events.clear();
    for (size_t d = 0; d < events.size(); ++d)
        if (events[d] & 1) ws.events.push_back(static_cast<sparse::NodeId>(d));
    return ok_status();
}

double LearnedMatchingDecoder::shot_weight(size_t edge, uint32_t explained, uint32_t clean, Workspace& ws) const {
    if (explained <= kTabulatedExplained) return tabulated_[edge * kTableEntries + table_index(explained, clean)];
    double row[kEdgeInputCount];
    features_->write_row(edge, explained, clean, row);
    return corrected_weight(edge, network_.evaluate(row, ws.network));
}

void LearnedMatchingDecoder::correct_weights(Workspace& ws) const {
    features_->gather(ws.events, ws.features);
    for (uint32_t e : ws.features.edges)
        ws.weights[e] = shot_weight(e, ws.features.explained[e], ws.features.clean[e], ws);
}

void LearnedMatchingDecoder::restore_weights(Workspace& ws) const {
    for (uint32_t e : ws.features.edges) ws.weights[e] = prior_weights_[e];
}

Result<std::vector<double>> LearnedMatchingDecoder::edge_weights(std::span<const uint8_t> events) const {
    Workspace ws = make_workspace();
    if (Status s = read_events(events, ws); !s) return s.error();
    correct_weights(ws);
    return std::move(ws.weights);
}

Status LearnedMatchingDecoder::predict_into(std::span<const uint8_t> events, std::span<uint8_t> observables,
                                            Workspace& ws, bool prior) const {
    std::fill(observables.begin(), observables.end(), uint8_t{0});
    if (Status s = read_events(events, ws); !s) return s;
    if (ws.events.empty()) return ok_status();
    // Without an explained partner every weight is the prior, and there is
    // nothing to override.
    ws.overrides.clear();
    if (!prior) {
        correct_weights(ws);
        for (uint32_t e : ws.features.edges) ws.overrides.push_back({e, ws.weights[e]});
        restore_weights(ws);
    }
    sparse::ObsMask flips = 0;
    if (Status s = matcher_.match(ws.events, flips, ws.overrides); !s) return s;
    for (size_t o = 0; o < observables.size(); ++o) observables[o] = static_cast<uint8_t>((flips >> o) & 1);
    return ok_status();
}

Result<std::vector<uint8_t>> LearnedMatchingDecoder::predict_observables(std::span<const uint8_t> events,
                                                                         size_t n_shots, bool bit_packed,
                                                                         bool parallel, bool prior) const {
    const BitRows in{graph_->num_detectors, bit_packed};
    const BitRows out{graph_->num_observables, bit_packed};
    if (events.size() != n_shots * in.row_bytes())
        return value_error("detection events have " + std::to_string(events.size()) + " bytes per " +
                           std::to_string(n_shots) + " shots, expected " + std::to_string(in.row_bytes()) +
                           " per shot");
    std::vector<uint8_t> predictions(batch_bytes(n_shots, out.row_bytes()));
    std::string bad_text;
    std::mutex bad_lock;
    auto status = predict_observable_rows(events.data(), in, n_shots, predictions.data(), out, parallel, [&] {
        return [&, ws = std::make_shared<Workspace>(make_workspace())](std::span<const uint8_t> row,
                                                                        std::span<uint8_t> flips) {
            if (Status s = predict_into(row, flips, *ws, prior); !s) {
                std::lock_guard guard(bad_lock);
                if (bad_text.empty()) bad_text = s.error().message;
            }
        };
    });
    if (!status) return status.error();
    if (!bad_text.empty()) return value_error(bad_text);
    return predictions;
}

Result<LearnedTraining> LearnedMatchingDecoder::train(uint64_t n_samples, uint64_t seed, uint64_t validation_shots,
                                                      ProgressSink* progress) {
    const size_t nd = graph_->num_detectors, no = graph_->num_observables, ne = graph_->edges.size();
    Wyrand rng(seed);
    std::vector<uint8_t> flips(ne, 0);
    std::vector<uint32_t> flipped;

    // Held-out shots, drawn first so that they do not depend on n_samples.
    std::vector<uint8_t> held_events(validation_shots * nd);
    std::vector<sparse::ObsMask> held_truth(validation_shots);
    for (uint64_t s = 0; s < validation_shots; ++s) {
        held_truth[s] = mechanisms_.draw(rng, *graph_, std::span(held_events).subspan(s * nd, nd), flips, flipped);
        for (uint32_t e : flipped) flips[e] = 0;
        flipped.clear();
    }
    const auto error_rate = [&](bool prior) -> Result<double> {
        if (validation_shots == 0) return 0.0;
        auto predicted = predict_observables(held_events, validation_shots, false, true, prior);
        if (!predicted) return predicted.error();
        uint64_t failures = 0;
        for (uint64_t s = 0; s < validation_shots; ++s) {
            sparse::ObsMask mask = 0;
            for (size_t o = 0; o < no; ++o) mask |= sparse::ObsMask{predicted.value()[s * no + o]} << o;
            failures += mask != held_truth[s];
        }
        return static_cast<double>(failures) / static_cast<double>(validation_shots);
    };

    LearnedTraining report;
    auto prior_rate = error_rate(true);
    if (!prior_rate) return prior_rate.error();
    report.prior_error_rate = prior_rate.value();
    auto start_rate = error_rate(false);
    if (!start_rate) return start_rate.error();
    report.best_error_rate = start_rate.value();
    EdgeResidualNetwork best = network_;

    Workspace ws = make_workspace();
    std::vector<uint8_t> events(nd);
    std::vector<double> gradient(network_.n_parameters());
    const uint64_t step = std::max<uint64_t>(1, n_samples / kMeasurements);
    uint64_t next_measurement = step;
    while (report.samples < n_samples) {
        const size_t m = static_cast<size_t>(std::min<uint64_t>(kTrainChunk, n_samples - report.samples));
        std::fill(gradient.begin(), gradient.end(), 0.0);
        for (size_t i = 0; i < m; ++i) {
            mechanisms_.draw(rng, *graph_, events, flips, flipped);
            if (Status s = read_events(events, ws); !s) return s.error();
            features_->gather(ws.events, ws.features);
            features_->write_rows(ws.features);
            // Cross-entropy of "the edge flipped" against the flip
            // probability the corrected weight stands for, 1 / (1 + e^w):
            // its gradient in the correction is (flipped - probability).
            const auto& visited = ws.features.edges;
            for (size_t k = 0; k < visited.size(); ++k) {
                const auto row = std::span(ws.features.inputs).subspan(k * kEdgeInputCount, kEdgeInputCount);
                const double correction = network_.evaluate(row, ws.network);
                const double p = sigmoid(-(prior_weights_[visited[k]] + correction));
                const double target = flips[visited[k]];
                network_.accumulate_gradient(row, ws.network, (target - p) / static_cast<double>(m), gradient);
            }
            for (uint32_t e : flipped) flips[e] = 0;
            flipped.clear();
        }
        network_.adam_step(gradient, kLearningRate);
        report.samples += m;
        if (report.samples >= next_measurement || report.samples == n_samples) {
            next_measurement += step;
            tabulate();
            auto rate = error_rate(false);
            if (!rate) return rate.error();
            // Without held-out shots there is nothing to choose by: the
            // latest network is kept.
            if (rate.value() < report.best_error_rate || validation_shots == 0) {
                report.best_error_rate = rate.value();
                best = network_;
            }
        }
        if (progress != nullptr && !progress->report(report.samples, n_samples)) {
            network_ = std::move(best);
            tabulate();
            return interrupted_error();
        }
    }
    network_ = std::move(best);
    tabulate();
    return report;
}

}  // namespace vornex
