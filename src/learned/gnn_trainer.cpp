#include "learned/gnn_trainer.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "bp/bp_osd_family.h"
#include "learned/gnn_layers.h"
#include "learned/training_limits.h"
#include "matching/blossom.h"

namespace vornex {
namespace {

// Check neighbours of every qubit below n_qubits, deduplicated.
std::vector<std::vector<uint32_t>> qubit_neighbours(const CheckList& checks, size_t n_qubits) {
    std::vector<std::vector<uint32_t>> n(n_qubits);
    for (const auto& check : checks)
        for (size_t a = 0; a < check.size(); ++a)
            for (size_t b = a + 1; b < check.size(); ++b)
                if (check[a] < n_qubits && check[b] < n_qubits) {
                    n[check[a]].push_back(check[b]);
                    n[check[b]].push_back(check[a]);
                }
    for (auto& list : n) {
        std::sort(list.begin(), list.end());
        list.erase(std::unique(list.begin(), list.end()), list.end());
    }
    return n;
}

double matching_target(uint32_t q, const std::vector<uint8_t>& correction,
                       const std::vector<std::vector<uint32_t>>& neighbours) {
    if (q < correction.size() && correction[q] == 1) return 1.0;
    if (q < neighbours.size())
        for (uint32_t r : neighbours[q])
            if (r < correction.size() && correction[r] == 1) return kNeighbourTarget;
    return 0.0;
}

// Per-qubit tables of one dataset: the error bytes of a sample and the
// neighbour lists; a qubit count beyond memory is refused before either.
void require_qubit_tables(uint64_t n_qubits) {
    if (!fits_in_memory(static_cast<double>(n_qubits) * (1 + sizeof(std::vector<uint32_t>)))) throw std::bad_alloc();
}

// Bytes of one sample held in a dataset: its graph's feature tables, edge
// records and adjacency, and one target per edge.
double sample_bytes(const DetectorGraph& graph) {
    return static_cast<double>(graph.n_nodes()) * (DetectorGraph::kNodeFeatureDim * sizeof(double) + 32) +
           static_cast<double>(graph.n_edges()) * 128 + sizeof(DetectorGraph) + sizeof(std::vector<double>);
}

}  // namespace

Result<DetectorGraph> GNNTrainer::first_sample() const {
    std::vector<uint8_t> syndrome;
    return sample_graph(0, syndrome);
}

Status GNNTrainer::check_dataset_size(uint64_t n_samples) const {
    if (n_samples == 0) return ok_status();
    auto graph = first_sample();
    if (!graph) return graph.error();
    if (!fits_in_memory(static_cast<double>(n_samples) * sample_bytes(graph.value()))) throw std::bad_alloc();
    return ok_status();
}

Status GNNTrainer::check_training(const GNNPredecoder& network, uint64_t n_samples, uint64_t n_epochs) const {
    if (n_samples == 0) return check_training_size(n_epochs, 0, 0);
    auto graph = first_sample();
    if (!graph) return graph.error();
    // Every sample has the code's graph; each attempt of the back-off trains
    // on all of them.
    const double items = static_cast<double>(graph.value().n_nodes() + graph.value().n_edges());
    if (Status s = check_training_size(n_epochs, static_cast<double>(n_samples),
                                       kBackoffAttempts * 3 * network.parameter_count() * items);
        !s)
        return s;
    return check_dataset_size(n_samples);
}

std::vector<uint8_t> GNNTrainer::sample_error(uint64_t sample) const {
    std::vector<uint8_t> error(n_qubits_);
    for (uint64_t q = 0; q < n_qubits_; ++q) {
        const uint64_t x = (9301u * sample + 49297u * q) % 233280u;
        error[q] = static_cast<double>(x) / 233280.0 < error_rate_ ? 1 : 0;
    }
    return error;
}

std::vector<uint8_t> GNNTrainer::syndrome_of(const std::vector<uint8_t>& error) const {
    std::vector<uint8_t> syndrome(check_to_qubits_.size());
    for (size_t c = 0; c < check_to_qubits_.size(); ++c) {
        uint8_t bit = 0;
        for (uint32_t q : check_to_qubits_[c])
            if (q < error.size()) bit ^= error[q];
        syndrome[c] = bit;
    }
    return syndrome;
}

Result<DetectorGraph> GNNTrainer::sample_graph(uint64_t sample, std::vector<uint8_t>& syndrome) const {
    syndrome = syndrome_of(sample_error(sample));
    return DetectorGraph::create(check_to_qubits_, syndrome);
}

Result<TrainingSet> GNNTrainer::sampled_dataset(uint64_t n_samples, ProgressSink* progress,
                                                const SampleTargets& targets_of) const {
    TrainingSet set;
    set.graphs.reserve(n_samples);
    set.targets.reserve(n_samples);
    std::vector<uint8_t> syndrome;
    for (uint64_t s = 0; s < n_samples; ++s) {
        auto graph = sample_graph(s, syndrome);
        if (!graph) return graph.error();
        std::vector<double> targets;
        targets.reserve(graph.value().n_edges());
        if (Status made = targets_of(syndrome, graph.value(), targets); !made) return made.error();
        set.graphs.push_back(std::move(graph.value()));
        set.targets.push_back(std::move(targets));
        if (progress != nullptr && !progress->report(s + 1, n_samples)) return interrupted_error();
    }
    return set;
}

Result<TrainingSet> GNNTrainer::matching_dataset(uint64_t n_samples, ProgressSink* progress) const {
    require_qubit_tables(n_qubits_);
    if (Status s = check_dataset_size(n_samples); !s) return s.error();
    const BlossomGraph blossom = build_blossom_graph(check_to_qubits_, n_qubits_, std::nullopt);
    const auto neighbours = qubit_neighbours(check_to_qubits_, n_qubits_);
    return sampled_dataset(n_samples, progress, [&](const std::vector<uint8_t>& syndrome, const DetectorGraph& graph,
                                                    std::vector<double>& targets) -> Status {
        auto correction = blossom_decode(blossom, syndrome);
        if (!correction) return correction.error();
        for (uint32_t q : graph.edge_qubit_id()) targets.push_back(matching_target(q, correction.value(), neighbours));
        return ok_status();
    });
}

Result<TrainingSet> GNNTrainer::bp_dataset(uint64_t n_samples, uint64_t max_bp_iter, ProgressSink* progress) const {
    require_qubit_tables(n_qubits_);
    if (Status s = check_dataset_size(n_samples); !s) return s.error();
    auto bp = BpOsdFamily::create(check_to_qubits_, n_qubits_, error_rate_);
    if (!bp) return bp.error();
    return sampled_dataset(n_samples, progress, [&](const std::vector<uint8_t>& syndrome, const DetectorGraph& graph,
                                                    std::vector<double>& targets) -> Status {
        auto llr = bp.value().bp_decode(syndrome, max_bp_iter);
        if (!llr) return llr.error();
        for (uint32_t q : graph.edge_qubit_id())
            targets.push_back(q < llr.value().size() ? 1.0 / (std::exp(std::clamp(llr.value()[q], -100.0, 100.0)) + 1.0)
                                                     : 0.0);
        return ok_status();
    });
}

Result<double> train_with_backoff(GNNPredecoder& network, const TrainingSet& set, uint64_t n_epochs,
                                  ProgressSink* progress) {
    const double lr0 = network.learning_rate();
    const GNNPredecoder start = network;
    GNNPredecoder best_network = network;
    auto start_loss = network.loss(set.graphs, set.targets);
    if (!start_loss) return start_loss.error();
    double best = start_loss.value();
    // fmax: a NaN starting rate still backs off from the floor.
    double lr = std::fmax(lr0, 1e-6);
    const uint64_t attempt_steps = n_epochs * set.graphs.size();
    for (int attempt = 0; attempt < kBackoffAttempts; ++attempt, lr *= 0.5) {
        network = start;
        network.set_learning_rate(lr);
        PartProgress part(progress, attempt * attempt_steps, kBackoffAttempts * attempt_steps);
        const Status trained = network.train(std::span<const DetectorGraph>(set.graphs), set.targets, n_epochs,
                                             progress != nullptr ? &part : nullptr);
        if (!trained && trained.error().kind != ErrorKind::Interrupted) return trained.error();
        // An interrupted attempt still competes: the caller keeps the best
        // weights reached so far.
        auto loss = network.loss(set.graphs, set.targets);
        if (!loss) return loss.error();
        if (std::isfinite(loss.value()) && loss.value() < best) {
            best_network = network;
            best = loss.value();
        }
        if (!trained) {
            network = std::move(best_network);
            network.set_learning_rate(lr0);
            return trained.error();
        }
    }
    network = std::move(best_network);
    network.set_learning_rate(lr0);
    return best;
}

namespace {

// A training job's sink split into its dataset part and its back-off part.
class TrainingParts {
public:
    TrainingParts(ProgressSink* job, uint64_t n_samples, uint64_t n_epochs)
        : job_(job),
          dataset_(job, 0, training_steps(n_samples, n_epochs)),
          training_(job, n_samples, training_steps(n_samples, n_epochs)) {}

    ProgressSink* dataset() { return job_ != nullptr ? &dataset_ : nullptr; }
    ProgressSink* training() { return job_ != nullptr ? &training_ : nullptr; }

private:
    ProgressSink* job_;
    PartProgress dataset_;
    PartProgress training_;
};

}  // namespace

Result<double> GNNTrainer::train(GNNPredecoder& network, uint64_t n_samples, uint64_t n_epochs,
                                 ProgressSink* progress) const {
    require_qubit_tables(n_qubits_);
    if (Status s = check_training(network, n_samples, n_epochs); !s) return s.error();
    TrainingParts parts(progress, n_samples, n_epochs);
    auto set = matching_dataset(n_samples, parts.dataset());
    if (!set) return set.error();
    return train_with_backoff(network, set.value(), n_epochs, parts.training());
}

Result<double> GNNTrainer::train_bp(GNNPredecoder& network, uint64_t n_samples, uint64_t n_epochs,
                                    uint64_t max_bp_iter, ProgressSink* progress) const {
    require_qubit_tables(n_qubits_);
    if (Status s = check_training(network, n_samples, n_epochs); !s) return s.error();
    TrainingParts parts(progress, n_samples, n_epochs);
    auto set = bp_dataset(n_samples, max_bp_iter, parts.dataset());
    if (!set) return set.error();
    return train_with_backoff(network, set.value(), n_epochs, parts.training());
}

}  // namespace vornex
