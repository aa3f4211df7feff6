#include "matching/matching_decoder.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "base/shape.h"
#include "base/thread_scratch.h"
#include "base/worker_pool.h"
#include "dem/dem_graph.h"
#include "dem/event_list_rows.h"
#include "matching/sparse/path_corrections.h"
#include "matching/sparse/path_search.h"
#include "matching/sparse/sparse_engine.h"

namespace vornex {

namespace {

using sparse::NodeId;

// Everything a decode needs besides the graph; one per thread.
struct MatchingScratch {
    sparse::SparseEngine engine;
    sparse::PathSearch paths;
    sparse::SparseMatching matching;
    std::vector<NodeId> events;     // fired nodes of the current shot
    std::vector<uint32_t> edge_ids;  // path edges of the current shot
    bool busy = false;
};

// Matches one row and flips the qubits on the matched paths.
Status correct_row(const sparse::MatchingGraph& graph, std::span<const uint8_t> syndrome, std::span<uint8_t> correction,
                   MatchingScratch& s) {
    return sparse::correct_along_paths(graph, syndrome, correction, s);
}

// The observable flips of a shot's matching, on this thread's engine.
class ObservablePredictor {
public:
    explicit ObservablePredictor(const sparse::MatchingGraph& graph) : graph_(graph) {}

    bool operator()(std::span<const NodeId> fired, sparse::ObsMask& flips) {
        MatchingScratch& s = lease_.get();
        if (!s.engine.match(graph_, fired, s.matching)) return false;
        flips = s.matching.observables;
        return true;
    }

private:
    const sparse::MatchingGraph& graph_;
    ScratchLease<MatchingScratch> lease_;
};

}  // namespace

Result<MatchingDecoder> MatchingDecoder::create(CheckList check_to_qubits, std::optional<uint64_t> n_qubits,
                                                std::optional<std::vector<double>> weights) {
    size_t qubits = 0;
    for (const auto& check : check_to_qubits)
        for (const uint32_t q : check) qubits = std::max<size_t>(qubits, size_t{q} + 1);
    if (n_qubits) {
        if (*n_qubits < qubits) {
            return value_error("Qubit index " + std::to_string(qubits - 1) + " >= n_qubits " + std::to_string(*n_qubits));
        }
        qubits = *n_qubits;
    }
    std::vector<int64_t> integer_weights;
    if (weights) {
        if (weights->size() != qubits) {
            return value_error("weights has " + std::to_string(weights->size()) + " entries, expected n_qubits = " +
                               std::to_string(qubits));
        }
        auto discrete = sparse::discretise_weights(*weights);
        if (!discrete) return discrete.error();
        integer_weights = std::move(discrete).value();
    }
    auto graph = sparse::matching_graph_from_checks(check_to_qubits, qubits, integer_weights);
    if (!graph) return graph.error();
    MatchingDecoder d;
    d.graph_ = std::move(graph).value();
    d.n_qubits_ = qubits;
    return d;
}

Result<MatchingDecoder> MatchingDecoder::from_model(const DetectorErrorModel& model) {
    auto view = build_dem_graph(model);
    if (!view) return view.error();
    const DemGraph& dem = view.value();
    if (auto status = require_non_negative_weights(dem, "MatchingDecoder"); !status) return status.error();
    if (dem.num_observables > 64) {
        return value_error("MatchingDecoder supports at most 64 observables; the model has " +
                           std::to_string(dem.num_observables));
    }
    std::vector<double> real(dem.edges.size());
    for (size_t k = 0; k < dem.edges.size(); ++k) real[k] = std::max(0.0, dem.edges[k].weight);
    auto integer = sparse::discretise_weights(real);
    if (!integer) return integer.error();
    std::vector<sparse::GraphEdge> edges(dem.edges.size());
    for (size_t k = 0; k < dem.edges.size(); ++k) {
        sparse::ObsMask mask = 0;
        for (const uint32_t o : dem.observables_of(k)) mask |= sparse::ObsMask{1} << o;
        const DemEdge& e = dem.edges[k];
        edges[k] = {e.u, e.v == kDemBoundary ? sparse::kBoundary : e.v, integer.value()[k], mask,
                    static_cast<uint32_t>(k)};
    }
    auto graph = sparse::build_matching_graph(dem.num_detectors, edges);
    if (!graph) return graph.error();
    MatchingDecoder d;
    d.graph_ = std::move(graph).value();
    d.n_qubits_ = dem.edges.size();
    d.model_ = std::make_shared<const ModelObservables>(
        ModelObservables{dem.num_detectors, ObservableMap::from_graph(dem, dem.edges.size())});
    return d;
}

Status MatchingDecoder::check_syndrome_length(size_t length) const {
    if (length != graph_.n_nodes) {
        return value_error("syndrome has " + std::to_string(length) + " bytes, expected n_checks = " +
                           std::to_string(graph_.n_nodes));
    }
    return ok_status();
}

Result<std::vector<uint8_t>> MatchingDecoder::decode(std::span<const uint8_t> syndrome) const {
    if (auto status = check_syndrome_length(syndrome.size()); !status) return status.error();
    std::vector<uint8_t> correction(n_qubits_);
    ScratchLease<MatchingScratch> lease;
    if (auto status = correct_row(graph_, syndrome, correction, lease.get()); !status) return status.error();
    return correction;
}

Result<std::vector<uint8_t>> MatchingDecoder::batch_decode(std::span<const uint8_t> syndromes, size_t n_shots) const {
    const size_t width = graph_.n_nodes;
    if (syndromes.size() != n_shots * width) {
        return value_error("syndromes have " + std::to_string(syndromes.size()) + " bytes, expected " +
                           std::to_string(n_shots) + " x " + std::to_string(width));
    }
    std::vector<uint8_t> out(batch_bytes(n_shots, n_qubits_));
    std::atomic<size_t> first_bad{n_shots};
    std::string bad_text;
    std::mutex bad_lock;
    parallel_for_ranges(n_shots, [&](size_t begin, size_t end) {
        ScratchLease<MatchingScratch> lease;
        for (size_t shot = begin; shot < end; ++shot) {
            const auto row = syndromes.subspan(shot * width, width);
            auto status = correct_row(graph_, row, std::span<uint8_t>(out).subspan(shot * n_qubits_, n_qubits_), lease.get());
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

Result<std::vector<uint8_t>> MatchingDecoder::predict_observables(std::span<const uint8_t> events, size_t n_shots,
                                                                  bool bit_packed, bool parallel) const {
    if (!model_) {
        return value_error(
            "MatchingDecoder has no observables: it was built from check lists; build it with "
            "MatchingDecoder.from_detector_error_model(model) to predict observables");
    }
    const BitRows in{graph_.n_nodes, bit_packed};
    const BitRows out{model_->num_observables(), bit_packed};
    if (events.size() != n_shots * in.row_bytes()) {
        return value_error("detection events have " + std::to_string(events.size()) + " bytes per " +
                           std::to_string(n_shots) + " shots, expected " + std::to_string(in.row_bytes()) +
                           " per shot");
    }
    std::vector<uint8_t> predictions(batch_bytes(n_shots, out.row_bytes()));
    auto status = predict_rows_from_events(
        events.data(), in, n_shots, predictions.data(), out, parallel, [&] { return ObservablePredictor(graph_); },
        [&](std::span<const NodeId> fired) {
            ScratchLease<MatchingScratch> lease;
            return lease.get().engine.match(graph_, fired, lease.get().matching);
        });
    if (!status) return status.error();
    return predictions;
}

}  // namespace vornex
