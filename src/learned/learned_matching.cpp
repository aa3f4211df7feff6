#include "learned/learned_matching.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <utility>

#include "code/wyrand.h"
#include "dem/observable_map.h"
#include "dem/shot_rows.h"
#include "matching/sparse/sparse_matching.h"

namespace vornex {
namespace {

// Estimates are held in [kMinProbability, 0.5]: weights stay finite and
// non-negative, as the matching engine requires.
constexpr double kMinProbability = 1e-6;
// Prior weights enter the network's edge features divided by this, so they
// sit on the scale of the other features.
constexpr double kPriorFeatureScale = 10.0;
// Samples per training call: a fresh chunk each step keeps memory flat.
constexpr size_t kTrainChunk = 64;
// Held-out measurements per training run.
constexpr uint64_t kMeasurements = 10;

double log_likelihood_weight(double p) {
    const double q = std::clamp(p, kMinProbability, 0.5);
    return std::log((1 - q) / q);
}

}  // namespace

LearnedMatchingDecoder::LearnedMatchingDecoder(DemGraph graph, DetectorGraph detector_graph, GNNPredecoder network)
    : graph_(std::move(graph)), detector_graph_(std::move(detector_graph)), network_(std::move(network)) {
    for (size_t e = 0; e < graph_.edges.size(); ++e) {
        prior_weights_.push_back(graph_.edges[e].weight);
        sparse::ObsMask mask = 0;
        for (uint32_t o : graph_.observables_of(e)) mask |= sparse::ObsMask{1} << o;
        masks_.push_back(mask);
    }
    observables_ = std::make_shared<const ModelObservables>(
        ModelObservables{graph_.num_detectors, ObservableMap::from_graph(graph_, graph_.edges.size())});
}

Result<LearnedMatchingDecoder> LearnedMatchingDecoder::from_model(const DetectorErrorModel& model,
                                                                  size_t hidden_size, size_t n_layers,
                                                                  uint64_t seed) {
    auto built = build_dem_graph(model);
    if (!built) return built.error();
    DemGraph graph = std::move(built).value();
    if (Status s = require_non_negative_weights(graph, "LearnedMatchingDecoder"); !s) return s.error();
    if (graph.num_observables > 64)
        return value_error("LearnedMatchingDecoder supports at most 64 observables; the model has " +
                           std::to_string(graph.num_observables));
    if (graph.num_detectors == 0) return value_error("LearnedMatchingDecoder needs a model with detectors");
    // Detectors, then the boundary node; each lists its model edges, so every
    // model edge is exactly one network edge.
    const uint32_t boundary = graph.num_detectors;
    CheckList node_edges(size_t{boundary} + 1);
    std::vector<double> prior_features;
    for (size_t e = 0; e < graph.edges.size(); ++e) {
        const DemEdge& edge = graph.edges[e];
        node_edges[edge.u].push_back(static_cast<uint32_t>(e));
        node_edges[edge.v == kDemBoundary ? boundary : edge.v].push_back(static_cast<uint32_t>(e));
        prior_features.push_back(edge.weight / kPriorFeatureScale);
    }
    GraphExtras extras;
    extras.base_weights = std::move(prior_features);
    const std::vector<uint8_t> quiet(node_edges.size(), 0);
    auto detector_graph = DetectorGraph::create(node_edges, quiet, extras, graph.edges.size());
    if (!detector_graph) return detector_graph.error();
    Wyrand seeds(seed);
    GNNPredecoder network(DetectorGraph::kNodeFeatureDim, DetectorGraph::kEdgeFeatureDim, hidden_size, n_layers,
                          seeds);
    return LearnedMatchingDecoder(std::move(graph), std::move(detector_graph).value(), std::move(network));
}

LearnedMatchingDecoder::Workspace LearnedMatchingDecoder::make_workspace() const {
    Workspace ws{detector_graph_, {}, {}, {}, {}, {}, {}, {}};
    ws.node_syndrome.assign(size_t{graph_.num_detectors} + 1, 0);
    return ws;
}

Status LearnedMatchingDecoder::edge_weights_into(std::span<const uint8_t> events, Workspace& ws) const {
    if (events.size() != graph_.num_detectors)
        return value_error("detection events have " + std::to_string(events.size()) + " entries, expected " +
                           std::to_string(graph_.num_detectors));
    for (size_t d = 0; d < events.size(); ++d) ws.node_syndrome[d] = events[d] & 1;
    if (Status s = ws.graph.update_syndrome(ws.node_syndrome); !s) return s;
    if (Status s = network_.forward_into(ws.graph, ws.network, ws.estimates); !s) return s;
    ws.weights = prior_weights_;
    const auto& edge_of = ws.graph.edge_qubit_id();
    for (size_t k = 0; k < ws.estimates.size(); ++k) ws.weights[edge_of[k]] = log_likelihood_weight(ws.estimates[k]);
    return ok_status();
}

Result<std::vector<double>> LearnedMatchingDecoder::edge_weights(std::span<const uint8_t> events) const {
    Workspace ws = make_workspace();
    if (Status s = edge_weights_into(events, ws); !s) return s.error();
    return std::move(ws.weights);
}

Status LearnedMatchingDecoder::match_into(Workspace& ws, std::span<const double> weights,
                                          std::span<uint8_t> observables) const {
    std::fill(observables.begin(), observables.end(), uint8_t{0});
    if (ws.events.empty()) return ok_status();
    auto discrete = sparse::discretise_weights(weights);
    if (!discrete) return discrete.error();
    ws.edges.clear();
    for (size_t e = 0; e < graph_.edges.size(); ++e) {
        const DemEdge& edge = graph_.edges[e];
        ws.edges.push_back({edge.u, edge.v == kDemBoundary ? sparse::kBoundary : edge.v, discrete.value()[e],
                            masks_[e], static_cast<uint32_t>(e)});
    }
    auto matching_graph = sparse::build_matching_graph(graph_.num_detectors, ws.edges);
    if (!matching_graph) return matching_graph.error();
    if (Status s = sparse::sparse_match(matching_graph.value(), ws.events, ws.matching); !s) return s;
    for (size_t o = 0; o < observables.size(); ++o)
        observables[o] = static_cast<uint8_t>((ws.matching.observables >> o) & 1);
    return ok_status();
}

Status LearnedMatchingDecoder::predict_into(std::span<const uint8_t> events, std::span<uint8_t> observables,
                                            Workspace& ws, bool prior) const {
    ws.events.clear();
    for (size_t d = 0; d < events.size(); ++d)
        if (events[d] & 1) ws.events.push_back(static_cast<sparse::NodeId>(d));
    if (ws.events.empty() || prior) {
        if (events.size() != graph_.num_detectors)
            return value_error("detection events have " + std::to_string(events.size()) + " entries, expected " +
                               std::to_string(graph_.num_detectors));
        return match_into(ws, prior_weights_, observables);
    }
    if (Status s = edge_weights_into(events, ws); !s) return s;
    return match_into(ws, ws.weights, observables);
}

Result<std::vector<uint8_t>> LearnedMatchingDecoder::predict_observables(std::span<const uint8_t> events,
                                                                         size_t n_shots, bool bit_packed,
                                                                         bool parallel, bool prior) const {
    const BitRows in{graph_.num_detectors, bit_packed};
    const BitRows out{graph_.num_observables, bit_packed};
    if (events.size() != n_shots * in.row_bytes())
        return value_error("detection events have " + std::to_string(events.size()) + " bytes per " +
                           std::to_string(n_shots) + " shots, expected " + std::to_string(in.row_bytes()) +
                           " per shot");
    std::vector<uint8_t> predictions(n_shots * out.row_bytes());
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

namespace {

// Independent flips of the model's graph-view edges: the detectors they
// fire, the observables they flip and which edges fired.
struct ModelSampler {
    const DemGraph& graph;
    std::span<const sparse::ObsMask> masks;
    Wyrand rng;

    void draw(std::span<uint8_t> events, sparse::ObsMask& observables, std::vector<uint8_t>& fired) {
        std::fill(events.begin(), events.end(), uint8_t{0});
        fired.assign(graph.edges.size(), 0);
        observables = 0;
        for (size_t e = 0; e < graph.edges.size(); ++e) {
            if (rng.next_unit() >= graph.edges[e].probability) continue;
            fired[e] = 1;
            events[graph.edges[e].u] ^= 1;
            if (graph.edges[e].v != kDemBoundary) events[graph.edges[e].v] ^= 1;
            observables ^= masks[e];
        }
    }
};

}  // namespace

Result<LearnedTraining> LearnedMatchingDecoder::train(uint64_t n_samples, uint64_t seed, uint64_t validation_shots,
                                                      ProgressSink* progress) {
    const size_t nd = graph_.num_detectors, no = graph_.num_observables;
    ModelSampler sampler{graph_, masks_, Wyrand(seed)};
    std::vector<uint8_t> fired;

    // Held-out shots, drawn first so that they do not depend on n_samples.
    std::vector<uint8_t> held_events(validation_shots * nd);
    std::vector<sparse::ObsMask> held_truth(validation_shots);
    for (uint64_t s = 0; s < validation_shots; ++s)
        sampler.draw(std::span(held_events).subspan(s * nd, nd), held_truth[s], fired);
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
    GNNPredecoder best = network_;

    std::vector<DetectorGraph> graphs(std::min<uint64_t>(kTrainChunk, n_samples), detector_graph_);
    std::vector<std::vector<double>> targets(graphs.size());
    std::vector<uint8_t> node_syndrome(nd + 1, 0);
    const auto& edge_of = detector_graph_.edge_qubit_id();
    const uint64_t step = std::max<uint64_t>(1, n_samples / kMeasurements);
    uint64_t next_measurement = step;
    while (report.samples < n_samples) {
        const size_t m = static_cast<size_t>(std::min<uint64_t>(graphs.size(), n_samples - report.samples));
        for (size_t i = 0; i < m; ++i) {
            sparse::ObsMask ignored = 0;
            sampler.draw(std::span(node_syndrome).first(nd), ignored, fired);
            if (Status s = graphs[i].update_syndrome(node_syndrome); !s) return s.error();
            targets[i].resize(edge_of.size());
            for (size_t k = 0; k < edge_of.size(); ++k) targets[i][k] = fired[edge_of[k]];
        }
        if (Status s = network_.train(std::span<const DetectorGraph>(graphs).first(m),
                                      std::span<const std::vector<double>>(targets).first(m), 1);
            !s)
            return s.error();
        report.samples += m;
        if (report.samples >= next_measurement || report.samples == n_samples) {
            next_measurement += step;
            auto rate = error_rate(false);
            if (!rate) return rate.error();
            if (rate.value() <= report.best_error_rate) {
                report.best_error_rate = rate.value();
                best = network_;
            }
        }
        if (progress != nullptr && !progress->report(report.samples, n_samples)) {
            network_ = std::move(best);
            return interrupted_error();
        }
    }
    network_ = std::move(best);
    return report;
}

}  // namespace vornex
