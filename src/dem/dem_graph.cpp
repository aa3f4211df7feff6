#include "dem/dem_graph.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

#include "dem/decoder_families.h"

namespace vornex {
namespace {

// One component as read, before parallel components are merged.
struct RawEdge {
    uint32_t u;
    uint32_t v;
    double probability;
    uint32_t obs_begin;  // into the raw observable list
    uint32_t obs_end;
};

std::string component_text(const std::vector<uint32_t>& detectors) {
    std::string text;
    for (size_t i = 0; i < detectors.size() && i < 8; ++i) {
        if (i) text += ' ';
        text += 'D';
        text += std::to_string(detectors[i]);
    }
    if (detectors.size() > 8) text += " ...";
    return text;
}

double edge_weight(double p) { return std::log((1.0 - p) / p); }

// Independent flips: the pair flips when exactly one of them does.
double merge_probability(double p1, double p2) { return p1 * (1.0 - p2) + p2 * (1.0 - p1); }

class GraphBuilder {
public:
    explicit GraphBuilder(const DetectorErrorModel& model) : model_(model) {}

    Result<DemGraph> run() {
        for (size_t column = 0; column < model_.num_errors(); ++column) {
            if (!(model_.probability[column] > 0)) continue;
            if (auto status = split_column(column); !status) return status.error();
        }
        return merge();
    }

private:
    Status split_column(size_t column) {
        auto targets = model_.targets_of(column);
        size_t start = 0;
        for (size_t k = 0; k <= targets.size(); ++k) {
            if (k < targets.size() && targets[k] != kSeparatorTarget) continue;
            if (auto status = add_component(column, targets.subspan(start, k - start)); !status) return status;
            start = k + 1;
        }
        return ok_status();
    }

    Status add_component(size_t column, std::span<const uint32_t> targets) {
        detectors_.clear();
        observables_.clear();
        for (uint32_t t : targets) {
            if (is_detector_target(t)) {
                detectors_.push_back(t);
            } else {
                observables_.push_back(t & ~kObservableTarget);
            }
        }
        keep_odd_occurrences(detectors_);
        keep_odd_occurrences(observables_);
        if (detectors_.size() > 2) {
            return value_error("line " + std::to_string(model_.line[column]) + ": error component " +
                               component_text(detectors_) + " flips " + std::to_string(detectors_.size()) +
                               " detectors (a hyperedge); graph decoders take at most 2 per component: split it "
                               "with '^' (as stim's decompose_errors=True does where the circuit allows), or "
                               "decode with a family that accepts hyperedges: " +
                               hyperedge_family_names());
        }
        if (detectors_.empty()) {
            undetectable_ += !observables_.empty();
            return ok_status();
        }
        const uint32_t obs_begin = static_cast<uint32_t>(raw_observables_.size());
        raw_observables_.insert(raw_observables_.end(), observables_.begin(), observables_.end());
        raw_.push_back({detectors_[0], detectors_.size() == 2 ? detectors_[1] : kDemBoundary,
                        model_.probability[column], obs_begin, static_cast<uint32_t>(raw_observables_.size())});
        return ok_status();
    }

    // Counting sort by u keeps model order inside each bucket; a stable sort
    // by v then lines up parallel components, first-seen first.
    std::vector<uint32_t> sorted_order() const {
        std::vector<uint32_t> start(size_t{model_.num_detectors} + 1, 0);
        for (const RawEdge& e : raw_) ++start[e.u + 1];
        for (size_t d = 0; d < model_.num_detectors; ++d) start[d + 1] += start[d];
        std::vector<uint32_t> order(raw_.size());
        std::vector<uint32_t> cursor(start.begin(), start.end() - 1);
        for (uint32_t i = 0; i < raw_.size(); ++i) order[cursor[raw_[i].u]++] = i;
        for (size_t d = 0; d < model_.num_detectors; ++d) {
            std::stable_sort(order.begin() + start[d], order.begin() + start[d + 1],
                             [&](uint32_t a, uint32_t b) { return raw_[a].v < raw_[b].v; });
        }
        return order;
    }

    DemGraph merge() {
        DemGraph graph;
        graph.num_detectors = model_.num_detectors;
        graph.num_observables = model_.num_observables;
        graph.undetectable_components = undetectable_;
        graph.observable_begin.push_back(0);
        const std::vector<uint32_t> order = sorted_order();
        for (size_t i = 0; i < order.size();) {
            const RawEdge& first = raw_[order[i]];
            double p = first.probability;
            size_t j = i + 1;
            for (; j < order.size() && raw_[order[j]].u == first.u && raw_[order[j]].v == first.v; ++j)
                p = merge_probability(p, raw_[order[j]].probability);
            i = j;
            if (!(p > 0)) continue;
            graph.edges.push_back({first.u, first.v, p, edge_weight(p)});
            graph.observables.insert(graph.observables.end(), raw_observables_.begin() + first.obs_begin,
                                     raw_observables_.begin() + first.obs_end);
            graph.observable_begin.push_back(static_cast<uint32_t>(graph.observables.size()));
        }
        return graph;
    }

    const DetectorErrorModel& model_;
    std::vector<RawEdge> raw_;
    std::vector<uint32_t> raw_observables_;
    size_t undetectable_ = 0;
    std::vector<uint32_t> detectors_;    // scratch of one component
    std::vector<uint32_t> observables_;  // scratch of one component
};

}  // namespace

Result<DemGraph> build_dem_graph(const DetectorErrorModel& model) { return GraphBuilder(model).run(); }

Status require_non_negative_weights(const DemGraph& graph, const char* decoder) {
    for (const DemEdge& e : graph.edges) {
        if (e.probability <= 0.5) continue;
        std::string message(decoder);
        message += " needs edge probabilities <= 0.5 (non-negative weights); edge D";
        message += std::to_string(e.u);
        if (e.v == kDemBoundary) {
            message += " to the boundary";
        } else {
            message += " - D";
            message += std::to_string(e.v);
        }
        char p[32];
        *std::to_chars(p, p + sizeof p - 1, e.probability).ptr = '\0';
        message += " has probability ";
        message += p;
        return value_error(std::move(message));
    }
    return ok_status();
}

size_t DemGraph::edge_index(uint32_t u, uint32_t v) const {
    const auto it = std::lower_bound(edges.begin(), edges.end(), std::pair{u, v},
                                     [](const DemEdge& e, auto key) { return std::pair{e.u, e.v} < key; });
    return it != edges.end() && it->u == u && it->v == v ? static_cast<size_t>(it - edges.begin()) : edges.size();
}

void decomposed_edges(const DemGraph& graph, const DetectorErrorModel& model, size_t error,
                      std::vector<uint32_t>& detectors, std::vector<uint32_t>& edges) {
    edges.clear();
    const auto targets = model.targets_of(error);
    size_t start = 0;
    for (size_t k = 0; k <= targets.size(); ++k) {
        if (k < targets.size() && targets[k] != kSeparatorTarget) continue;
        detectors.clear();
        for (const uint32_t t : targets.subspan(start, k - start))
            if (is_detector_target(t)) detectors.push_back(t);
        keep_odd_occurrences(detectors);
        start = k + 1;
        // The view refuses larger components; an empty one flips no edge.
        if (detectors.empty() || detectors.size() > 2) continue;
        const size_t e = graph.edge_index(detectors[0], detectors.size() == 2 ? detectors[1] : kDemBoundary);
        if (e < graph.edges.size()) edges.push_back(static_cast<uint32_t>(e));
    }
}

}  // namespace vornex
