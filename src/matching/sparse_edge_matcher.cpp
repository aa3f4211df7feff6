#include "matching/sparse_edge_matcher.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "base/thread_scratch.h"
#include "code/check_graph.h"
#include "matching/sparse/matching_graph.h"

namespace vornex {

namespace {

// One thread's state for every call of every SparseEdgeMatcher; only grows.
struct EdgeMatcherScratch {
    std::vector<int64_t> discrete;       // per caller edge: this call's weight, rounded
    std::vector<uint32_t> chosen;        // per pair: the edge that carries it in this call
    std::vector<EdgeWeight> overrides;   // per pair: its weight in this call
    std::vector<sparse::NodeId> fired;   // detectors of this call's syndrome
    std::vector<uint32_t> matched;       // pairs the correction runs along
    // Sparse calls: both hold their "none" value between calls.
    std::vector<int64_t> override_discrete;  // per caller edge: this call's rounded weight, or -1
    std::vector<uint32_t> pair_chosen;       // per pair: the edge carrying it in this call, or kNoIndex
    bool busy = false;
};

// The lightest of a pair's edges, the first on a tie.
uint32_t lightest(std::span<const uint32_t> edges, std::span<const int64_t> discrete) {
    uint32_t best = edges[0];
    for (const uint32_t e : edges.subspan(1))
        if (discrete[e] < discrete[best]) best = e;
    return best;
}

Status check_weight_count(size_t given, size_t expected) {
    if (given == expected) return ok_status();
    return value_error("weights has " + std::to_string(given) + " entries, expected one per edge (" +
                       std::to_string(expected) + ")");
}

}  // namespace

Result<SparseEdgeMatcher> SparseEdgeMatcher::create(uint32_t n_detectors,
                                                    std::span<const std::pair<uint32_t, uint32_t>> edge_ends,
                                                    std::span<const double> weights) {
    if (auto status = check_weight_count(weights.size(), edge_ends.size()); !status) return status.error();
    std::vector<int64_t> discrete(weights.size());
    if (auto status = sparse::discretise_weights_into(weights, discrete); !status) return status.error();
    // Pairs of ends in the order of their first edge; self-loops join none.
    auto key = [&](size_t k) {
        const auto [u, v] = edge_ends[k];
        const sparse::NodeId a = u, b = v == kNoIndex ? sparse::kBoundary : v;
        return std::make_pair(std::min(a, b), std::max(a, b));
    };
    std::vector<uint32_t> order;
    for (uint32_t k = 0; k < edge_ends.size(); ++k)
        if (edge_ends[k].first != edge_ends[k].second) order.push_back(k);
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return key(a) < key(b); });
    std::vector<std::pair<uint32_t, uint32_t>> first_of_pair;  // (first edge, position in `order`)
    for (size_t i = 0; i < order.size(); ++i)
        if (i == 0 || key(order[i]) != key(order[i - 1])) first_of_pair.push_back({order[i], static_cast<uint32_t>(i)});
    std::sort(first_of_pair.begin(), first_of_pair.end());

    SparseEdgeMatcher m;
    m.n_edges_ = edge_ends.size();
    m.build_discrete_ = discrete;
    m.edge_pair_.assign(edge_ends.size(), kNoIndex);
    const double top = weights.empty() ? 0.0 : *std::max_element(weights.begin(), weights.end());
    const bool all_equal = std::all_of(weights.begin(), weights.end(), [&](double w) { return w == top; });
    // The rounding discretise_weights_into applied (all-equal weights all became 1).
    m.build_scale_ = all_equal ? (top > 0.0 ? 1.0 / top : 1.0)
                               : static_cast<double>(sparse::kDiscreteWeightScale) / top;
    m.pair_begin_.push_back(0);
    std::vector<sparse::GraphEdge> pairs;
    for (const auto& [first, at] : first_of_pair) {
        const uint32_t pair = static_cast<uint32_t>(pairs.size());
        for (size_t i = at; i < order.size() && key(order[i]) == key(first); ++i) {
            m.pair_edges_.push_back(order[i]);
            m.edge_pair_[order[i]] = pair;
        }
        m.pair_begin_.push_back(static_cast<uint32_t>(m.pair_edges_.size()));
        const auto members = std::span<const uint32_t>(m.pair_edges_).subspan(m.pair_begin_[pair]);
        const uint32_t best = lightest(members, discrete);
        m.build_chosen_.push_back(best);
        const auto [u, v] = key(first);
        pairs.push_back({u, v, discrete[best], 0, pair});
    }
    auto graph = sparse::build_matching_graph(n_detectors, pairs);
    if (!graph) return graph.error();
    // Scale 1: overrides are already the engine's integers.
    auto matcher = ExactMatcher::create(std::move(graph).value(), pairs.size(), 1.0);
    if (!matcher) return matcher.error();
    m.matcher_.emplace(std::move(matcher).value());
    return m;
}

Status SparseEdgeMatcher::match(std::span<const uint8_t> syndrome, std::span<const double> weights,
                                std::span<uint8_t> edge_flips) const {
    if (syndrome.size() != matcher_->n_nodes() || edge_flips.size() != n_edges_) {
        return value_error("syndrome and edge flips have " + std::to_string(syndrome.size()) + " and " +
                           std::to_string(edge_flips.size()) + " bytes, expected " +
                           std::to_string(matcher_->n_nodes()) + " and " + std::to_string(n_edges_));
    }
    ScratchLease<EdgeMatcherScratch> lease;
    EdgeMatcherScratch& s = lease.get();
    const size_t n_pairs = build_chosen_.size();
    std::span<const uint32_t> chosen = build_chosen_;
    s.overrides.clear();
    if (!weights.empty()) {
        if (auto status = check_weight_count(weights.size(), n_edges_); !status) return status;
        if (s.discrete.size() < n_edges_) s.discrete.resize(n_edges_);
        const std::span<int64_t> discrete(s.discrete.data(), n_edges_);
        if (auto status = sparse::discretise_weights_into(weights, discrete); !status) return status;
        s.chosen.resize(n_pairs);
        for (uint32_t p = 0; p < n_pairs; ++p) {
            const auto members =
                std::span<const uint32_t>(pair_edges_).subspan(pair_begin_[p], pair_begin_[p + 1] - pair_begin_[p]);
            s.chosen[p] = lightest(members, discrete);
            s.overrides.push_back({p, static_cast<double>(discrete[s.chosen[p]])});
        }
        chosen = s.chosen;
    }
    s.fired.clear();
    for (size_t d = 0; d < syndrome.size(); ++d)
        if (syndrome[d] & 1) s.fired.push_back(static_cast<sparse::NodeId>(d));
    if (auto status = matcher_->match_edges(s.fired, s.matched, s.overrides); !status) return status;
    std::fill(edge_flips.begin(), edge_flips.end(), uint8_t{0});
    for (const uint32_t p : s.matched) edge_flips[chosen[p]] = 1;
    return ok_status();
}

Status SparseEdgeMatcher::match_with_overrides(std::span<const uint32_t> fired,
                                               std::span<const EdgeWeight> overrides,
                                               std::vector<uint32_t>& matched) const {
    ScratchLease<EdgeMatcherScratch> lease;
    EdgeMatcherScratch& s = lease.get();
    if (s.override_discrete.size() < n_edges_) s.override_discrete.resize(n_edges_, -1);
    if (s.pair_chosen.size() < build_chosen_.size()) s.pair_chosen.resize(build_chosen_.size(), kNoIndex);
    s.overrides.clear();
    s.fired.assign(fired.begin(), fired.end());
    size_t written = 0;  // overrides[0, written) are in override_discrete
    // Puts the scratch back to "none" whatever the outcome.
    auto finish = [&](Status status) {
        for (size_t k = 0; k < written; ++k) s.override_discrete[overrides[k].edge] = -1;
        for (const EdgeWeight& o : s.overrides) s.pair_chosen[static_cast<uint32_t>(o.edge)] = kNoIndex;
        return status;
    };
    for (; written < overrides.size(); ++written) {
        const auto [e, w] = overrides[written];
        if (e >= n_edges_ || !std::isfinite(w) || w < 0)
            return finish(value_error("override of edge " + std::to_string(e) + " with weight " + std::to_string(w) +
                                      ": edges run below " + std::to_string(n_edges_) +
                                      ", weights must be finite and >= 0"));
        s.override_discrete[e] = std::llround(w * build_scale_);
    }
    for (const EdgeWeight& o : overrides) {
        const uint32_t p = edge_pair_[o.edge];
        if (p == kNoIndex || s.pair_chosen[p] != kNoIndex) continue;
        // The pair's lightest edge under this call's weights, the first on a tie.
        uint32_t best = kNoIndex;
        int64_t best_weight = 0;
        for (uint32_t k = pair_begin_[p]; k < pair_begin_[p + 1]; ++k) {
            const uint32_t e = pair_edges_[k];
            const int64_t w = s.override_discrete[e] >= 0 ? s.override_discrete[e] : build_discrete_[e];
            if (best == kNoIndex || w < best_weight) best = e, best_weight = w;
        }
        s.pair_chosen[p] = best;
        s.overrides.push_back({p, static_cast<double>(best_weight)});
    }
    if (auto status = matcher_->match_edges(s.fired, s.matched, s.overrides); !status) return finish(status);
    matched.clear();
    for (const uint32_t p : s.matched) matched.push_back(s.pair_chosen[p] != kNoIndex ? s.pair_chosen[p] : build_chosen_[p]);
    return finish(ok_status());
}

}  // namespace vornex
