#include "matching/belief_correlated.h"

#include <algorithm>
#include <memory>
#include <string>

#include "base/thread_scratch.h"
#include "dem/dem_model.h"
#include "dem/model_budget.h"
#include "dem/model_prediction.h"

namespace vornex {

namespace {

double flip_either(double p, double q) { return p * (1.0 - q) + q * (1.0 - p); }

}  // namespace

CorrectionScore CorrectionScore::create(const MatchingModel& model) {
    const size_t n_edges = model.edge_ends.size();
    std::vector<double> single(n_edges, 0.0);
    std::vector<std::pair<uint64_t, double>> pairs;  // (a << 32 | b, probability), a < b
    std::vector<uint32_t> edges;
    for (size_t j = 0; j < model.column_probability.size(); ++j) {
        // A component listed twice cancels.
        edges.assign(model.column_edges[j].begin(), model.column_edges[j].end());
        keep_odd_occurrences(edges);
        const size_t kept = edges.size();
        const double p = model.column_probability[j];
        if (kept == 1) single[edges[0]] = flip_either(single[edges[0]], p);
        if (kept == 2) pairs.emplace_back(uint64_t{edges[0]} << 32 | edges[1], p);
    }
    std::sort(pairs.begin(), pairs.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    CorrectionScore s;
    s.single_.resize(n_edges);
    for (size_t e = 0; e < n_edges; ++e) s.single_[e] = single[e] > 0 ? matching_weight(single[e]) : kNoSingleError;
    s.begin_.assign(n_edges + 1, 0);
    std::vector<std::pair<uint32_t, EdgeWeight>> merged;
    for (size_t i = 0; i < pairs.size();) {
        double p = 0.0;
        size_t k = i;
        for (; k < pairs.size() && pairs[k].first == pairs[i].first; ++k) p = flip_either(p, pairs[k].second);
        const auto a = static_cast<uint32_t>(pairs[i].first >> 32);
        const auto b = static_cast<uint32_t>(pairs[i].first);
        merged.push_back({a, {b, matching_weight(p)}});
        ++s.begin_[a + 1];
        i = k;
    }
    for (size_t e = 0; e < n_edges; ++e) s.begin_[e + 1] += s.begin_[e];
    for (const auto& m : merged) s.partners_.push_back(m.second);  // already ordered by a, then b
    return s;
}

double CorrectionScore::score(std::span<const uint32_t> edges, Workspace& ws) const {
    ws.sorted.assign(edges.begin(), edges.end());
    std::sort(ws.sorted.begin(), ws.sorted.end());
    ws.savings.clear();
    // Edges no error flips alone are counted apart, so that the weights of
    // a correction without them are summed exactly.
    double total = 0.0;
    int64_t lone = 0;
    auto add = [&](uint32_t e, int sign) {
        if (single_[e] == kNoSingleError) {
            lone += sign;
        } else {
            total += sign * single_[e];
        }
    };
    for (const uint32_t a : ws.sorted) {
        add(a, +1);
        for (uint32_t k = begin_[a]; k < begin_[a + 1]; ++k) {
            const EdgeWeight& partner = partners_[k];
            const double saving = single_[a] + single_[partner.edge] - partner.weight;
            if (saving > 0 && std::binary_search(ws.sorted.begin(), ws.sorted.end(), partner.edge))
                ws.savings.push_back({saving, partner.weight, a, partner.edge});
        }
    }
    // Largest saving first; ties in edge order, so the score does not depend on the input's order.
    std::sort(ws.savings.begin(), ws.savings.end(), [](const Saving& x, const Saving& y) {
        if (x.saving != y.saving) return x.saving > y.saving;
        return x.a != y.a ? x.a < y.a : x.b < y.b;
    });
    ws.used.assign(ws.sorted.size(), 0);
    auto position = [&](uint32_t e) {
        return static_cast<size_t>(std::lower_bound(ws.sorted.begin(), ws.sorted.end(), e) - ws.sorted.begin());
    };
    for (const Saving& s : ws.savings) {
        const size_t i = position(s.a), j = position(s.b);
        if (ws.used[i] || ws.used[j]) continue;
        ws.used[i] = ws.used[j] = 1;
        add(s.a, -1);
        add(s.b, -1);
        total += s.pair_weight;
    }
    return total + static_cast<double>(lone) * kNoSingleError;
}

Result<BeliefCorrelatedDecoder> BeliefCorrelatedDecoder::create(const DetectorErrorModel& model,
                                                                const BpSettings& bp, size_t bp_radius) {
    // A correlated matching decoder and a belief-matching one side by side.
    if (auto fits = check_model_footprint(model, {"a belief-correlated decoder", 54 + 78}); !fits)
        return fits.error();
    auto matching = MatchingDecoder::from_model(model, true);
    if (!matching) return matching.error();
    auto columns = matching_model_from(model);
    if (!columns) return columns.error();
    BeliefCorrelatedDecoder d;
    d.score_ = std::make_shared<const CorrectionScore>(CorrectionScore::create(columns.value()));
    auto belief = BeliefMatchingDecoder::create(std::move(columns).value(), bp, bp_radius);
    if (!belief) return belief.error();
    d.belief_ = std::make_shared<const BeliefMatchingDecoder>(std::move(belief).value());
    d.matching_ = std::make_shared<const MatchingDecoder>(std::move(matching).value());
    if (!d.belief_->capped()) return d;
    // The correlated graph re-weighted by the event-free posteriors, rounded
    // as that graph rounds a shot's overrides: a shot matched here without
    // overrides is matched as the correlated graph with every edge overridden.
    const ExactMatcher& correlated = d.matching_->matcher();
    sparse::MatchingGraph graph = correlated.graph();
    const std::span<const double> free = d.belief_->event_free_weights();
    for (size_t h = 0; h < graph.n_half_edges(); ++h)
        graph.weight[h] = 2 * correlated.engine_weight(free[graph.edge_id[h]]);  // stored doubled
    auto matcher = ExactMatcher::create(std::move(graph), correlated.n_edges(), correlated.weight_scale());
    if (!matcher) return matcher.error();
    d.free_matcher_ = std::make_shared<const ExactMatcher>(std::move(matcher).value());
    return d;
}

void BeliefCorrelatedDecoder::lower_implied(Workspace& ws) const {
    const size_t n = n_edges();
    if (ws.lowered_stamp.size() < n) {
        ws.lowered_stamp.resize(n, 0);
        ws.lowered.resize(n, 0.0);
    }
    if (++ws.clock == 0) {  // wrapped: older stamps could match again
        std::fill(ws.lowered_stamp.begin(), ws.lowered_stamp.end(), 0u);
        ws.clock = 1;
    }
    for (const EdgeWeight& o : ws.weights) {
        ws.lowered_stamp[o.edge] = ws.clock;
        ws.lowered[o.edge] = o.weight;
    }
    const std::span<const double> free = belief_->event_free_weights();
    const EdgeCorrelations& pairs = *matching_->correlations();
    for (const uint32_t a : ws.edges[1]) {
        for (const EdgeWeight& implied : pairs.implied_by(a)) {
            const uint32_t b = implied.edge;
            if (implied.weight >= (ws.lowered_stamp[b] == ws.clock ? ws.lowered[b] : free[b])) continue;
            ws.lowered_stamp[b] = ws.clock;
            ws.lowered[b] = implied.weight;
            ws.weights.push_back(implied);
        }
    }
}

Status BeliefCorrelatedDecoder::match_capped(std::span<const uint8_t> events, sparse::ObsMask* flips,
                                             Workspace& ws) const {
    ws.weights.clear();
    if (belief_->bp_radius() > 0) {
        size_t iterations = 0;
        if (!belief_->region_weights(events, ws.belief, iterations)) {
            // The event-free tables ran out: this shot's BP over the whole
            // graph, every edge overridden.
            belief_->belief_weights(events, ws.belief);
            for (size_t e = 0; e < n_edges(); ++e) ws.weights.push_back({static_cast<uint32_t>(e), ws.belief.weights[e]});
        } else {
            ws.weights.assign(ws.belief.overrides.begin(), ws.belief.overrides.end());
        }
    }
    if (auto st = free_matcher_->match_edges(ws.fired, ws.edges[1], ws.weights, &flips[1]); !st) return st;
    const size_t n_shot = ws.weights.size();
    lower_implied(ws);
    if (ws.weights.size() == n_shot) {
        ws.edges[2] = ws.edges[1];
        flips[2] = flips[1];
        return ok_status();
    }
    return free_matcher_->match_edges(ws.fired, ws.edges[2], ws.weights, &flips[2]);
}

Result<BeliefCorrelatedDecoder::Choice> BeliefCorrelatedDecoder::predict_into(std::span<const uint8_t> events,
                                                                              sparse::ObsMask& observables,
                                                                              Workspace& ws) const {
    ws.fired.clear();
    for (size_t i = 0; i < events.size(); ++i)
        if (events[i] & 1) ws.fired.push_back(static_cast<sparse::NodeId>(i));
    observables = 0;
    if (ws.fired.empty()) return Choice::Correlated;
    sparse::ObsMask flips[3] = {0, 0, 0};
    if (auto st = matching_->match(ws.fired, true, {}, flips[0], &ws.edges[0]); !st) return st.error();
    if (capped()) {
        if (auto st = match_capped(events, flips, ws); !st) return st.error();
        return choose(flips, observables, ws);
    }

    belief_->belief_weights(events, ws.belief);
    // Both read the same graph view, so belief edge e is the engine's edge e.
    ws.weights.resize(n_edges());
    for (size_t e = 0; e < n_edges(); ++e) ws.weights[e] = {static_cast<uint32_t>(e), ws.belief.weights[e]};
    const ExactMatcher& matcher = matching_->matcher();
    if (auto st = matcher.match_edges(ws.fired, ws.edges[1], ws.weights, &flips[1]); !st) return st.error();
    // The second pass from the belief-weighted first pass: the implied
    // weights are appended after the belief ones, so the lower wins (the
    // shot's list is read whole before anything is appended).
    const size_t n_belief = ws.weights.size();
    matching_->correlations()->second_pass_weights(ws.edges[1], ws.weights, ws.implied, ws.weights);
    if (ws.weights.size() == n_belief) {
        ws.edges[2] = ws.edges[1];
        flips[2] = flips[1];
    } else if (auto st = matcher.match_edges(ws.fired, ws.edges[2], ws.weights, &flips[2]); !st) {
        return st.error();
    }
    return choose(flips, observables, ws);
}

BeliefCorrelatedDecoder::Choice BeliefCorrelatedDecoder::choose(const sparse::ObsMask* flips,
                                                                sparse::ObsMask& observables, Workspace& ws) const {
    size_t best = 0;
    double best_score = score_->score(ws.edges[0], ws.score);
    for (size_t c : {size_t{2}, size_t{1}}) {
        const double s = score_->score(ws.edges[c], ws.score);
        if (s < best_score) best = c, best_score = s;
    }
    observables = flips[best];
    return static_cast<Choice>(best);
}

Result<std::vector<uint8_t>> BeliefCorrelatedDecoder::predict_observables(std::span<const uint8_t> events,
                                                                          size_t n_shots, bool bit_packed,
                                                                          bool parallel) const {
    return predict_observables_checked(n_detectors(), n_observables(), events, n_shots, bit_packed, parallel, [&] {
        return [&, lease = std::make_shared<ScratchLease<Workspace>>()](std::span<const uint8_t> row,
                                                                       std::span<uint8_t> observables) -> Status {
            sparse::ObsMask flips = 0;
            if (auto choice = predict_into(row, flips, lease->get()); !choice) return choice.error();
            for (size_t o = 0; o < observables.size(); ++o) observables[o] = static_cast<uint8_t>((flips >> o) & 1);
            return ok_status();
        };
    });
}

}  // namespace vornex
