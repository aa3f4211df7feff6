#include "matching/matching_decoder.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "base/memory_budget.h"
#include "base/thread_scratch.h"
#include "base/worker_pool.h"
#include "dem/model_budget.h"
#include "dem/dem_graph.h"
#include "dem/event_list_rows.h"
#include "matching/model_graph.h"

namespace vornex {

namespace {

using sparse::NodeId;

// A row's fired nodes and its matched edges; one per thread.
struct MatchingScratch {
    std::vector<NodeId> events;      // fired nodes of the current shot
    std::vector<uint32_t> edge_ids;  // matched edges of the current shot
    bool busy = false;
};

// The first pass of a correlated shot and the second pass's weights; one
// per thread.
struct CorrelatedScratch {
    std::vector<uint32_t> first;            // edges of the first pass
    std::vector<EdgeWeight> second;         // the shot's own overrides, then the implied weights
    EdgeCorrelations::Workspace implied;
    bool busy = false;
};

// Matches one row and flips the qubits on the matched paths. A node fires
// when bit 0 of its byte is set; fails as the engine does, leaving
// `correction` untouched.
Status correct_row(const ExactMatcher& matcher, std::span<const uint8_t> syndrome, std::span<uint8_t> correction,
                   MatchingScratch& s) {
    s.events.clear();
    for (size_t i = 0; i < syndrome.size(); ++i)
        if (syndrome[i] & 1) s.events.push_back(static_cast<NodeId>(i));
    if (auto status = matcher.match_edges(s.events, s.edge_ids); !status) return status;
    std::fill(correction.begin(), correction.end(), uint8_t{0});
    for (const uint32_t e : s.edge_ids) correction[e] = 1;
    return ok_status();
}

}  // namespace

Result<MatchingDecoder> MatchingDecoder::create(CheckList check_to_qubits, std::optional<uint64_t> n_qubits,
                                                QubitWeights weights) {
    size_t qubits = 0;
    for (const auto& check : check_to_qubits)
        for (const uint32_t q : check) qubits = std::max<size_t>(qubits, size_t{q} + 1);
    if (n_qubits) {
        if (*n_qubits < qubits) {
            return value_error("Qubit index " + std::to_string(qubits - 1) + " >= n_qubits " + std::to_string(*n_qubits));
        }
        qubits = *n_qubits;
    }
    // Measured on a build and first decode: about 14 bytes per declared qubit.
    if (auto fits = check_declared_qubits(qubits, "a matching decoder", 14); !fits) return fits.error();
    std::vector<int64_t> integer_weights;
    double scale = 1.0;
    if (weights) {
        if (weights->size() != qubits) {
            return value_error("weights has " + std::to_string(weights->size()) + " entries, expected n_qubits = " +
                               std::to_string(qubits));
        }
        auto discrete = sparse::discretise_weights(*weights);
        if (!discrete) return discrete.error();
        integer_weights = std::move(discrete).value();
        const double top = weights->empty() ? 0.0 : *std::max_element(weights->begin(), weights->end());
        const bool all_equal = std::all_of(weights->begin(), weights->end(), [&](double w) { return w == top; });
        if (top > 0) scale = all_equal ? 1.0 / top : static_cast<double>(sparse::kDiscreteWeightScale) / top;
    }
    auto graph = sparse::matching_graph_from_checks(check_to_qubits, qubits, integer_weights);
    if (!graph) return graph.error();
    auto matcher = ExactMatcher::create(std::move(graph).value(), qubits, scale);
    if (!matcher) return matcher.error();
    MatchingDecoder d;
    d.matcher_ = std::move(matcher).value();
    d.n_qubits_ = qubits;
    return d;
}

Result<MatchingDecoder> MatchingDecoder::from_model(const DetectorErrorModel& model, bool enable_correlations) {
    if (auto fits = check_model_footprint(model, {"a matching decoder", 54}); !fits) return fits.error();
    auto view = build_dem_graph(model);
    if (!view) return view.error();
    const DemGraph& dem = view.value();
    // Refused decompositions are named by their instruction before any
    // merged edge is refused by its ends.
    auto correlations = EdgeCorrelations::create_shared(model, dem, enable_correlations);
    if (!correlations) return correlations.error();
    // Second-pass weights lie between the build weights, so a correlated
    // graph resolves them even when all build weights are equal.
    auto graph = model_matching_graph(dem, "MatchingDecoder",
                                      enable_correlations ? WeightRounding::Fine : WeightRounding::Plain);
    if (!graph) return graph.error();
    auto matcher = ExactMatcher::create(std::move(graph).value());
    if (!matcher) return matcher.error();
    MatchingDecoder d;
    d.matcher_ = std::move(matcher).value();
    d.correlations_ = std::move(correlations).value();
    d.n_qubits_ = dem.edges.size();
    d.model_ = std::make_shared<const ModelObservables>(
        ModelObservables{dem.num_detectors, ObservableMap::from_graph(dem, dem.edges.size())});
    return d;
}

Status MatchingDecoder::check_syndrome_length(size_t length) const {
    if (length != n_checks()) {
        return value_error("syndrome has " + std::to_string(length) + " bytes, expected n_checks = " +
                           std::to_string(n_checks()));
    }
    return ok_status();
}

Result<std::vector<uint8_t>> MatchingDecoder::decode(std::span<const uint8_t> syndrome) const {
    if (auto status = check_syndrome_length(syndrome.size()); !status) return status.error();
    std::vector<uint8_t> correction(n_qubits_);
    ScratchLease<MatchingScratch> lease;
    if (auto status = correct_row(matcher_, syndrome, correction, lease.get()); !status) return status.error();
    return correction;
}

Result<std::vector<uint8_t>> MatchingDecoder::batch_decode(std::span<const uint8_t> syndromes, size_t n_shots) const {
    const size_t width = n_checks();
    if (syndromes.size() != n_shots * width) {
        return value_error("syndromes have " + std::to_string(syndromes.size()) + " bytes, expected " +
                           std::to_string(n_shots) + " x " + std::to_string(width));
    }
    std::vector<uint8_t> out(n_shots * n_qubits_);
    std::atomic<size_t> first_bad{n_shots};
    std::string bad_text;
    std::mutex bad_lock;
    parallel_for_ranges(n_shots, [&](size_t begin, size_t end) {
        ScratchLease<MatchingScratch> lease;
        for (size_t shot = begin; shot < end; ++shot) {
            const auto row = syndromes.subspan(shot * width, width);
            auto status =
                correct_row(matcher_, row, std::span<uint8_t>(out).subspan(shot * n_qubits_, n_qubits_), lease.get());
            if (!status) {
                std::lock_guard guard(bad_lock);
                if (shot < first_bad) {
                    first_bad = shot;
                    bad_text = status.error().message;
                }
                return;
            }
        }
    });
    if (first_bad < n_shots) return value_error("shot " + std::to_string(first_bad.load()) + ": " + bad_text);
    return out;
}

Status MatchingDecoder::require_correlations(bool correlated) const {
    if (correlated && !correlations_) {
        return value_error(
            "MatchingDecoder was built without correlations; build it with "
            "MatchingDecoder.from_detector_error_model(model, enable_correlations=True) to decode with them");
    }
    return ok_status();
}

Status MatchingDecoder::match(std::span<const NodeId> fired, bool correlated, std::span<const EdgeWeight> overrides,
                              sparse::ObsMask& observables, std::vector<uint32_t>* edges) const {
    if (!correlated) {
        if (edges != nullptr) return matcher_.match_edges(fired, *edges, overrides, &observables);
        return matcher_.match(fired, observables, overrides);
    }
    ScratchLease<CorrelatedScratch> lease;
    CorrelatedScratch& s = lease.get();
    if (auto status = matcher_.match_edges(fired, s.first, overrides, &observables); !status) return status;
    s.second.assign(overrides.begin(), overrides.end());
    correlations_->second_pass_weights(s.first, overrides, s.implied, s.second);
    if (s.second.size() == overrides.size()) {  // nothing lowered: the first pass stands
        if (edges != nullptr) edges->swap(s.first);
        return ok_status();
    }
    if (edges != nullptr) return matcher_.match_edges(fired, *edges, s.second, &observables);
    return matcher_.match(fired, observables, s.second);
}

Result<std::vector<uint32_t>> MatchingDecoder::decode_to_edges(std::span<const uint8_t> events, bool correlated,
                                                               std::span<const EdgeWeight> overrides) const {
    if (auto status = require_correlations(correlated); !status) return status.error();
    if (events.size() != n_checks()) {
        return value_error("detection events have " + std::to_string(events.size()) + " bytes, expected " +
                           std::to_string(n_checks()));
    }
    std::vector<NodeId> fired(events.size());
    const size_t count = fired_of_byte_row(events.data(), events.size(), fired.data());
    if (count == SIZE_MAX) return non_bit_error(events.data(), events.size(), 0);
    fired.resize(count);
    std::vector<uint32_t> edges;
    sparse::ObsMask unused = 0;
    if (auto status = match(fired, correlated, overrides, unused, &edges); !status) return status.error();
    return edges;
}

Result<std::vector<uint8_t>> MatchingDecoder::predict_observables(std::span<const uint8_t> events, size_t n_shots,
                                                                  bool bit_packed, bool parallel, bool correlated,
                                                                  std::span<const EdgeWeight> overrides) const {
    if (!model_) {
        return value_error(
            "MatchingDecoder has no observables: it was built from check lists; build it with "
            "MatchingDecoder.from_detector_error_model(model) to predict observables");
    }
    if (auto status = require_correlations(correlated); !status) return status.error();
    const BitRows in{n_checks(), bit_packed};
    const BitRows out{model_->num_observables(), bit_packed};
    if (events.size() != n_shots * in.row_bytes()) {
        return value_error("detection events have " + std::to_string(events.size()) + " bytes per " +
                           std::to_string(n_shots) + " shots, expected " + std::to_string(in.row_bytes()) +
                           " per shot");
    }
    std::vector<uint8_t> predictions(n_shots * out.row_bytes());
    const auto failure = [&](std::span<const NodeId> fired) {
        sparse::ObsMask unused = 0;
        return match(fired, correlated, overrides, unused);
    };
    const auto predict_rows = [&](auto make_predictor) {
        return predict_rows_from_events(events.data(), in, n_shots, predictions.data(), out, parallel,
                                        make_predictor, failure);
    };
    // Plain shots: each range holds the thread's scratch for all its rows.
    const Status status =
        !correlated && overrides.empty()
            ? predict_rows([&] {
                  return [held = ExactMatcher::Held(matcher_)](std::span<const NodeId> fired,
                                                               sparse::ObsMask& flips) mutable {
                      return static_cast<bool>(held.match(fired, flips));
                  };
              })
            : predict_rows([&] {
                  return [&](std::span<const NodeId> fired, sparse::ObsMask& flips) {
                      return static_cast<bool>(match(fired, correlated, overrides, flips));
                  };
              });
    if (!status) return status.error();
    return predictions;
}

}  // namespace vornex
