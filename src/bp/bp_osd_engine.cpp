#include "bp/bp_osd_engine.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "base/setting_text.h"
#include "base/thread_scratch.h"
#include "base/worker_pool.h"
#include "bp/decode_rows.h"

namespace vornex {

Status validate_column_error_rates(std::span<const double> rates, size_t n_qubits) {
    if (rates.size() != n_qubits)
        return value_error("error_channel has length " + std::to_string(rates.size()) + ", expected n_qubits " +
                           std::to_string(n_qubits));
    for (size_t q = 0; q < rates.size(); ++q)
        if (!(rates[q] >= 0.0 && rates[q] <= 1.0))
            return value_error("error_channel[" + std::to_string(q) + "] must be in [0, 1], got " + shortest(rates[q]));
    return ok_status();
}

ColumnPriors column_priors(std::span<const double> rates) {
    ColumnPriors priors;
    priors.llr.resize(rates.size());
    for (size_t q = 0; q < rates.size(); ++q) priors.llr[q] = bp_prior_llr(rates[q]);
    priors.all_positive = std::all_of(priors.llr.begin(), priors.llr.end(), [](double l) { return l > 0.0; });
    return priors;
}

Result<BpOsdEngine> BpOsdEngine::create(const CheckList& check_to_qubits, size_t n_qubits,
                                        std::vector<double> column_error_rates, const BpOsdSettings& settings) {
    if (auto st = validate_column_error_rates(column_error_rates, n_qubits); !st) return st.error();
    if (auto st = validate_bp_settings(settings.bp); !st) return st.error();
    if (auto st = validate_osd_settings(settings.osd); !st) return st.error();
    auto graph = build_tanner_graph(check_to_qubits, n_qubits);
    if (!graph) return graph.error();
    BpOsdEngine engine;
    engine.graph_ = std::move(graph).value();
    engine.settings_ = settings;
    ColumnPriors priors = column_priors(column_error_rates);
    engine.prior_llr_ = std::move(priors.llr);
    engine.all_priors_positive_ = priors.all_positive;
    OsdScratch scratch;
    engine.rank_ = gf2_rank(engine.graph_, scratch);
    engine.event_free_ = EventFreeBp::build(engine.graph_, engine.prior_llr_, settings.bp);
    return engine;
}

BpOsdSettings defined_bp_osd_settings() {
    BpOsdSettings s;
    s.bp.stop = BpStop::Posterior;
    s.bp.max_iterations = kBpMaxIterations;
    return s;
}

Result<BpOsdEngine> BpOsdEngine::create_defined(const CheckList& check_to_qubits, std::optional<size_t> n_qubits,
                                                double error_rate) {
    const size_t nq = n_qubits ? *n_qubits : derived_n_qubits(check_to_qubits);
    const size_t nc = check_to_qubits.size();
    if (nq >= kNoIndex || nc >= kNoIndex)
        return value_error("Code too large: " + std::to_string(nc) + " checks x " + std::to_string(nq) + " qubits");
    size_t listed = 0;
    for (const auto& check : check_to_qubits) listed += check.size();
    if (listed >= kNoIndex) return value_error("Code too large: " + std::to_string(listed) + " check entries");
    auto graph = build_tanner_graph(check_to_qubits, nq, RepeatedQubits::Counted);
    if (!graph) return graph.error();
    BpOsdEngine engine;
    engine.graph_ = std::move(graph).value();
    engine.settings_ = defined_bp_osd_settings();
    engine.prior_llr_.assign(nq, bp_prior_llr(error_rate));
    engine.byte_one_fires_ = true;
    OsdScratch scratch;
    engine.rank_ = gf2_rank(engine.graph_, scratch);
    // Restricted BP needs the syndrome stop: event_free_ stays unusable.
    engine.all_priors_positive_ = nq == 0 || engine.prior_llr_[0] > 0.0;
    return engine;
}

// 0/1 syndromes, the usual case, are read in place; otherwise a copy in the
// workspace keeps 1 for the byte 1 and 0 for every other byte.
std::span<const uint8_t> BpOsdEngine::bp_syndrome(std::span<const uint8_t> syndrome, Workspace& ws) const {
    if (!byte_one_fires_ || std::all_of(syndrome.begin(), syndrome.end(), [](uint8_t b) { return b <= 1; }))
        return syndrome;
    ws.bp_syndrome.resize(syndrome.size());
    for (size_t c = 0; c < syndrome.size(); ++c) ws.bp_syndrome[c] = syndrome[c] == 1 ? 1 : 0;
    return ws.bp_syndrome;
}

BpOsdOutcome BpOsdEngine::decode_into(std::span<const uint8_t> syndrome, std::span<uint8_t> correction,
                                      Workspace& ws, std::optional<BpBudget> budget) const {
    if (all_priors_positive_ && std::none_of(syndrome.begin(), syndrome.end(), [](uint8_t s) { return s & 1; })) {
        std::fill(correction.begin(), correction.end(), uint8_t{0});
        return BpOsdOutcome{0, true, false};
    }
    const bool restricted = !budget && event_free_.usable();
    const BpOutcome bp = restricted ? run_restricted_belief_propagation(graph_, prior_llr_, syndrome, settings_.bp, {},
                                                                        event_free_, ws.bp)
                                    : run_belief_propagation(graph_, prior_llr_, bp_syndrome(syndrome, ws),
                                                             settings_.bp, ws.bp, budget);
    BpOsdOutcome outcome{bp.iterations, bp.explained, false};
    if (settings_.bp.stop == BpStop::Syndrome && bp.explained) {
        std::copy(ws.bp.hard_decision.begin(), ws.bp.hard_decision.begin() + graph_.n_qubits, correction.begin());
        return outcome;
    }
    outcome.osd_ran = true;
    if (restricted) complete_posterior(graph_, event_free_, bp.iterations, ws.bp);
    osd_search(graph_, rank_, ws.bp.posterior, prior_llr_, syndrome, settings_.osd, ws.osd, correction);
    return outcome;
}

BpOutcome BpOsdEngine::run_bp(std::span<const uint8_t> syndrome, size_t max_iterations, Workspace& ws) const {
    BpSettings capped = settings_.bp;
    capped.max_iterations = std::min(capped.max_iterations, max_iterations);
    return run_belief_propagation(graph_, prior_llr_, bp_syndrome(syndrome, ws), capped, ws.bp);
}

void BpOsdEngine::decode_batch(const uint8_t* syndromes, size_t n_shots, uint8_t* corrections) const {
    decode_rows_on_pool(*this, syndromes, n_shots, graph_.n_checks, corrections, graph_.n_qubits);
}

}  // namespace vornex
