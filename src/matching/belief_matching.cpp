#include "matching/belief_matching.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "base/shape.h"
#include "base/thread_scratch.h"
#include "base/worker_pool.h"
#include "dem/model_budget.h"
#include "dem/dem_graph.h"
#include "dem/dem_model.h"
#include "dem/model_prediction.h"
#include "dem/shot_rows.h"
#include "matching/sparse_edge_matcher.h"

namespace vornex {

namespace {

// Items listed an odd number of times, sorted.
std::vector<uint32_t> odd_set(std::vector<uint32_t> items) {
    std::sort(items.begin(), items.end());
    std::vector<uint32_t> odd;
    for (size_t i = 0; i < items.size();) {
        size_t j = i;
        while (j < items.size() && items[j] == items[i]) ++j;
        if ((j - i) % 2) odd.push_back(items[i]);
        i = j;
    }
    return odd;
}

// Detectors an edge set flips.
std::vector<uint32_t> flipped_detectors(const MatchingModel& m, const std::vector<uint32_t>& edges) {
    std::vector<uint32_t> ends;
    for (uint32_t e : edges)
        for (uint32_t d : {m.edge_ends[e].first, m.edge_ends[e].second})
            if (d != kNoIndex) ends.push_back(d);
    return odd_set(std::move(ends));
}

Status validate_model(const MatchingModel& m) {
    const size_t n_edges = m.edge_ends.size();
    const size_t n_columns = m.column_probability.size();
    if (m.n_detectors >= kNoIndex || n_edges >= kNoIndex || n_columns >= kNoIndex)
        return value_error("Model too large for 32-bit ids");
    if (m.edge_observables.size() != n_edges)
        return value_error("edge_observables has " + std::to_string(m.edge_observables.size()) +
                           " entries, expected one per edge (" + std::to_string(n_edges) + ")");
    if (m.column_detectors.size() != n_columns || m.column_edges.size() != n_columns)
        return value_error("column_detectors and column_edges need one entry per column (" +
                           std::to_string(n_columns) + ")");
    for (size_t e = 0; e < n_edges; ++e) {
        const auto [u, v] = m.edge_ends[e];
        if (u >= m.n_detectors || (v != kNoIndex && v >= m.n_detectors))
            return value_error("edge " + std::to_string(e) + " has an end beyond the " +
                               std::to_string(m.n_detectors) + " detectors");
        for (uint32_t o : m.edge_observables[e])
            if (o >= m.n_observables) return value_error("edge " + std::to_string(e) + " names observable " +
                                                         std::to_string(o) + " of " + std::to_string(m.n_observables));
    }
    for (size_t j = 0; j < n_columns; ++j) {
        const double p = m.column_probability[j];
        if (!(p >= 0.0 && p <= 1.0))
            return value_error("column " + std::to_string(j) + " has a probability outside [0, 1]");
        for (uint32_t e : m.column_edges[j])
            if (e >= n_edges) return value_error("column " + std::to_string(j) + " names edge " + std::to_string(e) +
                                                 " of " + std::to_string(n_edges));
        for (uint32_t d : m.column_detectors[j])
            if (d >= m.n_detectors) return value_error("column " + std::to_string(j) + " names detector " +
                                                       std::to_string(d) + " of " + std::to_string(m.n_detectors));
        if (flipped_detectors(m, m.column_edges[j]) != odd_set(m.column_detectors[j]))
            return value_error("column " + std::to_string(j) + ": its edges flip other detectors than the column");
    }
    return ok_status();
}

}  // namespace

double matching_weight(double probability) {
    const double p = std::clamp(probability, 1e-15, 0.5);
    return std::log((1.0 - p) / p);
}

Result<BeliefMatchingDecoder> BeliefMatchingDecoder::create(MatchingModel model, const BpSettings& bp) {
    return create(std::move(model), bp, nullptr);
}

Result<BeliefMatchingDecoder> BeliefMatchingDecoder::create(MatchingModel model, const BpSettings& bp,
                                                            size_t bp_radius) {
    auto made = create(std::move(model), bp, nullptr);
    if (!made) return made.error();
    BeliefMatchingDecoder d = std::move(made).value();
    d.bp_radius_ = bp_radius;
    if (bp_radius == kUnboundedRadius || !d.event_free_.usable()) return d;
    // The graph weighted as a shot's edges far from its events are: by the
    // event-free posteriors of the last iteration.
    const size_t last = std::min(bp.max_iterations, d.event_free_.last_iteration());
    const double* free_llr = d.event_free_.posterior(last);
    std::vector<double> probability(d.n_columns()), weights(d.n_edges());
    for (size_t j = 0; j < probability.size(); ++j) probability[j] = 1.0 / (1.0 + std::exp(free_llr[j]));
    d.edge_probabilities(probability, weights);
    for (double& w : weights) w = matching_weight(w);
    auto belief = SparseEdgeMatcher::create(static_cast<uint32_t>(d.n_detectors()), d.model_.edge_ends, weights);
    if (!belief) return belief.error();
    d.belief_matcher_ = std::make_shared<const SparseEdgeMatcher>(std::move(belief).value());
    d.event_free_weights_ = std::move(weights);
    return d;
}

Result<BeliefMatchingDecoder> BeliefMatchingDecoder::create(MatchingModel model, const BpSettings& bp,
                                                            std::shared_ptr<const EdgeMatcher> matcher) {
    if (auto st = validate_model(model); !st) return st.error();
    if (auto st = validate_bp_settings(bp); !st) return st.error();
    BeliefMatchingDecoder d;
    const size_t n_columns = model.column_probability.size();
    CheckList detector_columns(model.n_detectors);
    for (size_t j = 0; j < n_columns; ++j)
        for (uint32_t det : odd_set(model.column_detectors[j])) detector_columns[det].push_back(static_cast<uint32_t>(j));
    auto graph = build_tanner_graph(detector_columns, n_columns);
    if (!graph) return graph.error();
    d.columns_ = std::move(graph).value();
    d.prior_llr_.resize(n_columns);
    for (size_t j = 0; j < n_columns; ++j) d.prior_llr_[j] = bp_prior_llr(model.column_probability[j]);
    d.event_free_ = EventFreeBp::build(d.columns_, d.prior_llr_, bp);

    const size_t n_edges = model.edge_ends.size();
    d.edge_column_begin_.assign(n_edges + 1, 0);
    for (const auto& edges : model.column_edges)
        for (uint32_t e : edges) ++d.edge_column_begin_[e + 1];
    for (size_t e = 0; e < n_edges; ++e) d.edge_column_begin_[e + 1] += d.edge_column_begin_[e];
    d.edge_columns_.resize(d.edge_column_begin_[n_edges]);
    std::vector<uint32_t> fill(d.edge_column_begin_.begin(), d.edge_column_begin_.end() - 1);
    for (size_t j = 0; j < n_columns; ++j)
        for (uint32_t e : model.column_edges[j]) d.edge_columns_[fill[e]++] = static_cast<uint32_t>(j);

    d.prior_weights_.resize(n_edges);
    d.model_ = std::move(model);
    d.edge_probabilities(d.model_.column_probability, d.prior_weights_);
    for (double& w : d.prior_weights_) w = matching_weight(w);
    d.bp_settings_ = bp;
    if (!matcher) {
        auto sparse = SparseEdgeMatcher::create(static_cast<uint32_t>(d.model_.n_detectors), d.model_.edge_ends,
                                                d.prior_weights_);
        if (!sparse) return sparse.error();
        d.prior_matcher_ = std::make_shared<const SparseEdgeMatcher>(std::move(sparse).value());
        matcher = d.prior_matcher_;
    }
    d.matcher_ = std::move(matcher);
    std::vector<uint32_t> observable_begin{0}, observables;
    for (const auto& edge : d.model_.edge_observables) {
        observables.insert(observables.end(), edge.begin(), edge.end());
        observable_begin.push_back(static_cast<uint32_t>(observables.size()));
    }
    d.observables_ = std::make_shared<const ModelObservables>(
        ModelObservables{static_cast<uint32_t>(d.model_.n_detectors),
                         ObservableMap(static_cast<uint32_t>(d.model_.n_observables), observable_begin, observables)});
    return d;
}

void BeliefMatchingDecoder::edge_probabilities(std::span<const double> column_probability,
                                               std::span<double> out) const {
    for (size_t e = 0; e + 1 < edge_column_begin_.size(); ++e) {
        double p = 0.0;
        for (uint32_t k = edge_column_begin_[e]; k < edge_column_begin_[e + 1]; ++k) {
            const double q = column_probability[edge_columns_[k]];
            p = p * (1.0 - q) + q * (1.0 - p);
        }
        out[e] = p;
    }
}

bool BeliefMatchingDecoder::explains(std::span<const uint8_t> syndrome, std::span<const uint8_t> edge_flips,
                                     Workspace& ws) const {
    ws.fired.assign(model_.n_detectors, 0);
    for (size_t e = 0; e < edge_flips.size(); ++e)
        if (edge_flips[e] & 1)
            for (uint32_t d : {model_.edge_ends[e].first, model_.edge_ends[e].second})
                if (d != kNoIndex) ws.fired[d] ^= 1;
    for (size_t d = 0; d < ws.fired.size(); ++d)
        if (ws.fired[d] != (syndrome[d] & 1)) return false;
    return true;
}

Status BeliefMatchingDecoder::decode_plain_into(std::span<const uint8_t> syndrome, std::span<uint8_t> edge_flips,
                                                std::span<uint8_t> observables) const {
    std::fill(observables.begin(), observables.end(), uint8_t{0});
    if (auto status = matcher_->match(syndrome, {}, edge_flips); !status) return status;
    observables_->map.apply(edge_flips, observables);
    return ok_status();
}

size_t BeliefMatchingDecoder::belief_weights(std::span<const uint8_t> syndrome, Workspace& ws) const {
    ws.bit_syndrome.resize(syndrome.size());
    for (size_t d = 0; d < syndrome.size(); ++d) ws.bit_syndrome[d] = syndrome[d] & 1;
    size_t iterations = 0;
    if (event_free_.usable()) {
        iterations = run_restricted_belief_propagation(columns_, prior_llr_, ws.bit_syndrome, bp_settings_, {},
                                                       event_free_, ws.bp)
                         .iterations;
        complete_posterior(columns_, event_free_, iterations, ws.bp);
    } else {
        iterations = run_belief_propagation(columns_, prior_llr_, ws.bit_syndrome, bp_settings_, ws.bp).iterations;
    }
    // Posterior LLRs become probabilities in place, then edge weights.
    for (double& l : ws.bp.posterior) l = 1.0 / (1.0 + std::exp(l));
    ws.weights.resize(n_edges());
    edge_probabilities(ws.bp.posterior, ws.weights);
    for (double& w : ws.weights) w = matching_weight(w);
    return iterations;
}

Result<BeliefMatchingDecoder::Outcome> BeliefMatchingDecoder::decode_into(std::span<const uint8_t> syndrome,
                                                                          std::span<uint8_t> edge_flips,
                                                                          std::span<uint8_t> observables,
                                                                          Workspace& ws) const {
    Outcome outcome;
    ws.bit_syndrome.resize(syndrome.size());
    bool any = false;
    for (size_t d = 0; d < syndrome.size(); ++d) any |= (ws.bit_syndrome[d] = syndrome[d] & 1) != 0;
    if (!any) {
        std::fill(edge_flips.begin(), edge_flips.end(), uint8_t{0});
        std::fill(observables.begin(), observables.end(), uint8_t{0});
        return outcome;
    }
    outcome.bp_iterations = belief_weights(syndrome, ws);
    const bool belief_ok = matcher_->match(ws.bit_syndrome, ws.weights, edge_flips).ok() &&
                           explains(ws.bit_syndrome, edge_flips, ws);
    if (!belief_ok) {
        outcome.used_belief_weights = false;
        if (auto status = matcher_->match(ws.bit_syndrome, {}, edge_flips); !status) return status.error();
    }
    std::fill(observables.begin(), observables.end(), uint8_t{0});
    observables_->map.apply(edge_flips, observables);
    return outcome;
}

bool BeliefMatchingDecoder::region_weights(std::span<const uint8_t> syndrome, Workspace& ws,
                                           size_t& iterations) const {
    iterations = run_restricted_belief_propagation(columns_, prior_llr_, syndrome, bp_settings_, {}, event_free_,
                                                   ws.bp, bp_radius_)
                     .iterations;
    if (!ws.bp.region_clean) return false;
    // Edges of the region's columns, re-weighted from their columns'
    // posteriors (event-free ones for columns outside the region).
    ws.edge_marked.resize(n_edges());
    ws.overrides.clear();
    const double* free_llr = event_free_.posterior(iterations);
    for (const uint32_t q : ws.bp.region_qubits) {
        for (const uint32_t e : model_.column_edges[q]) {
            if (ws.edge_marked[e]) continue;
            ws.edge_marked[e] = 1;
            double p = 0.0;
            for (uint32_t k = edge_column_begin_[e]; k < edge_column_begin_[e + 1]; ++k) {
                const uint32_t j = edge_columns_[k];
                const double llr = ws.bp.qubit_marked[j] ? ws.bp.posterior[j] : free_llr[j];
                const double r = 1.0 / (1.0 + std::exp(llr));
                p = p * (1.0 - r) + r * (1.0 - p);
            }
            ws.overrides.push_back({e, matching_weight(p)});
        }
    }
    for (const EdgeWeight& o : ws.overrides) ws.edge_marked[o.edge] = 0;
    return true;
}

Result<BeliefMatchingDecoder::Outcome> BeliefMatchingDecoder::decode_capped(std::span<const uint8_t> syndrome,
                                                                            std::span<uint8_t> observables,
                                                                            Workspace& ws) const {
    Outcome outcome;
    std::fill(observables.begin(), observables.end(), uint8_t{0});
    ws.events.clear();
    for (size_t d = 0; d < syndrome.size(); ++d)
        if (syndrome[d] & 1) ws.events.push_back(static_cast<uint32_t>(d));
    if (ws.events.empty()) return outcome;
    if (!region_weights(syndrome, ws, outcome.bp_iterations)) {
        // The event-free tables ran out: the exact path, whole-graph weights.
        ws.flips.resize(n_edges());
        auto exact = decode_into(syndrome, ws.flips, observables, ws);
        ws.fired.assign(n_detectors(), 0);  // the sparse check below expects it clear
        return exact;
    }
    // The matching must fire exactly the events; the prior-weighted one otherwise.
    auto explained = [&] {
        auto each_end = [&](auto visit) {
            for (const uint32_t e : ws.matched)
                for (const uint32_t d : {model_.edge_ends[e].first, model_.edge_ends[e].second})
                    if (d != kNoIndex) visit(d);
        };
        ws.fired.resize(n_detectors());
        each_end([&](uint32_t d) { ws.fired[d] ^= 1; });
        bool ok = true;
        for (const uint32_t d : ws.events) ok &= ws.fired[d] == 1;
        each_end([&](uint32_t d) { ok &= ws.fired[d] == (syndrome[d] & 1); });
        each_end([&](uint32_t d) { ws.fired[d] = 0; });
        return ok;
    };
    if (!belief_matcher_->match_with_overrides(ws.events, ws.overrides, ws.matched).ok() || !explained()) {
        outcome.used_belief_weights = false;
        if (auto status = prior_matcher_->match_with_overrides(ws.events, {}, ws.matched); !status)
            return status.error();
    }
    for (const uint32_t e : ws.matched)
        for (const uint32_t o : model_.edge_observables[e]) observables[o] ^= 1;
    return outcome;
}

Result<std::vector<uint8_t>> BeliefMatchingDecoder::predict_observables(std::span<const uint8_t> events,
                                                                        size_t n_shots, bool bit_packed,
                                                                        bool parallel, bool plain) const {
    return predict_observables_checked(n_detectors(), n_observables(), events, n_shots, bit_packed, parallel, [&] {
        // One workspace per worker thread, reused by every piece it runs.
        return [&, lease = std::make_shared<ScratchLease<Workspace>>()](std::span<const uint8_t> row,
                                                                       std::span<uint8_t> observables) -> Status {
            Workspace& ws = lease->get();
            ws.flips.resize(n_edges());
            if (plain) return decode_plain_into(row, ws.flips, observables);
            if (capped()) {
                if (auto outcome = decode_capped(row, observables, ws); !outcome) return outcome.error();
                return ok_status();
            }
            if (auto outcome = decode_into(row, ws.flips, observables, ws); !outcome) return outcome.error();
            return ok_status();
        };
    });
}

Result<MatchingModel> matching_model_from(const DetectorErrorModel& dem) {
    if (auto fits = check_model_footprint(dem, {"a belief-matching decoder", 78}); !fits) return fits.error();
    auto graph = build_dem_graph(dem);
    if (!graph) return graph.error();
    const DemGraph& g = graph.value();
    MatchingModel m;
    m.n_detectors = g.num_detectors;
    m.n_observables = g.num_observables;
    for (const DemEdge& e : g.edges) m.edge_ends.emplace_back(e.u, e.v == kDemBoundary ? kNoIndex : e.v);
    for (size_t e = 0; e < g.edges.size(); ++e) {
        const auto obs = g.observables_of(e);
        m.edge_observables.emplace_back(obs.begin(), obs.end());
    }
    std::vector<uint32_t> detectors;
    for (size_t j = 0; j < dem.num_errors(); ++j) {
        if (!(dem.probability[j] > 0.0)) continue;
        std::vector<uint32_t> edges;
        decomposed_edges(g, dem, j, detectors, edges);
        column_detectors(dem, j, detectors);
        m.column_probability.push_back(dem.probability[j]);
        m.column_detectors.push_back(detectors);
        m.column_edges.push_back(std::move(edges));
    }
    return m;
}

}  // namespace vornex
