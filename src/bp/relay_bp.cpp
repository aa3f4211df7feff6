#include "bp/relay_bp.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "base/setting_text.h"
#include "base/thread_scratch.h"
#include "base/worker_pool.h"
#include "base/wyrand.h"
#include "bp/bp_osd.h"
#include "bp/bp_osd_engine.h"
#include "bp/decode_rows.h"

namespace vornex {

namespace {

bool strength_ok(double g) { return g >= -1.0 && g <= 1.0; }

}  // namespace

Result<RelayWeight> parse_relay_weight(std::string_view name) {
    static constexpr NamedValue<RelayWeight> kNames[] = {{"prior", RelayWeight::Prior}, {"count", RelayWeight::Count}};
    return parse_named("solution_weight", name, kNames);
}

Result<RelayFallback> parse_relay_fallback(std::string_view name) {
    static constexpr NamedValue<RelayFallback> kNames[] = {{"osd", RelayFallback::Osd}, {"none", RelayFallback::None}};
    return parse_named("fallback", name, kNames);
}

Status validate_relay_settings(const RelaySettings& s) {
    BpSettings bp;
    bp.ms_scaling_factor = s.ms_scaling_factor;
    if (auto st = validate_bp_settings(bp); !st) return st;
    if (!strength_ok(s.first_strength))
        return value_error("first_leg_strength must be in [-1, 1], got " + shortest(s.first_strength));
    if (!(strength_ok(s.strength_min) && strength_ok(s.strength_max) && s.strength_min <= s.strength_max))
        return value_error("strength_min and strength_max must satisfy -1 <= strength_min <= strength_max <= 1, got " +
                           shortest(s.strength_min) + " and " + shortest(s.strength_max));
    if (s.legs == 0) return value_error("legs must be at least 1, got 0");
    if (s.solutions == 0) return value_error("solutions must be at least 1, got 0");
    return validate_osd_settings(s.osd);
}

Result<RelayBpEngine> RelayBpEngine::create(const CheckList& check_to_qubits, size_t n_qubits,
                                            std::span<const double> column_error_rates,
                                            const RelaySettings& settings) {
    if (auto st = validate_column_error_rates(column_error_rates, n_qubits); !st) return st.error();
    if (auto st = validate_relay_settings(settings); !st) return st.error();
    auto graph = build_tanner_graph(check_to_qubits, n_qubits);
    if (!graph) return graph.error();
    RelayBpEngine engine;
    engine.graph_ = std::move(graph).value();
    engine.settings_ = settings;
    ColumnPriors priors = column_priors(column_error_rates);
    engine.prior_llr_ = std::move(priors.llr);
    engine.all_priors_positive_ = priors.all_positive;
    engine.first_strength_.assign(n_qubits, settings.first_strength);
    OsdScratch scratch;
    engine.rank_ = gf2_rank(engine.graph_, scratch);
    engine.first_free_ = EventFreeBp::build(engine.graph_, engine.prior_llr_,
                                            engine.bp_settings(settings.first_iterations), engine.first_strength_);
    return engine;
}

BpSettings RelayBpEngine::bp_settings(size_t max_iterations) const {
    BpSettings bp;
    bp.method = BpMethod::MinSum;
    bp.ms_scaling_factor = settings_.ms_scaling_factor;
    bp.schedule = BpSchedule::Parallel;
    bp.stop = BpStop::Syndrome;
    bp.max_iterations = max_iterations;
    return bp;
}

void RelayBpEngine::leg_strengths(size_t r, std::span<double> out) const {
    // Leg seeds that differ in one bit share no state.
    Wyrand rng(mix64(settings_.seed ^ mix64(r)));
    const double lo = settings_.strength_min, width = settings_.strength_max - settings_.strength_min;
    for (double& g : out) g = lo + width * rng.next_unit();
}

bool RelayBpEngine::record_solution(Workspace& ws, std::span<uint8_t> best, double& best_weight) const {
    const std::vector<uint8_t>& hard = ws.bp.hard_decision;
    ws.support.clear();
    if (ws.bp.region_clean) {
        // A restricted run flips nothing outside its region.
        for (uint32_t q : ws.bp.region_qubits)
            if (hard[q]) ws.support.push_back(q);
        std::sort(ws.support.begin(), ws.support.end());
    } else {
        for (size_t q = 0; q < graph_.n_qubits; ++q)
            if (hard[q]) ws.support.push_back(static_cast<uint32_t>(q));
    }
    for (size_t i = 0; i + 1 < ws.support_begin.size(); ++i)
        if (std::equal(ws.support.begin(), ws.support.end(), ws.supports.begin() + ws.support_begin[i],
                       ws.supports.begin() + ws.support_begin[i + 1]))
            return false;
    ws.supports.insert(ws.supports.end(), ws.support.begin(), ws.support.end());
    ws.support_begin.push_back(static_cast<uint32_t>(ws.supports.size()));
    double weight = 0.0;
    if (settings_.weight == RelayWeight::Count) {
        weight = static_cast<double>(ws.support.size());
    } else {
        for (uint32_t q : ws.support) weight += prior_llr_[q];
    }
    if (weight < best_weight) {
        best_weight = weight;
        std::fill(best.begin(), best.end(), uint8_t{0});
        for (uint32_t q : ws.support) best[q] = 1;
    }
    return true;
}

RelayOutcome RelayBpEngine::decode_into(std::span<const uint8_t> syndrome, std::span<uint8_t> correction,
                                        Workspace& ws) const {
    RelayOutcome outcome;
    if (all_priors_positive_ && std::none_of(syndrome.begin(), syndrome.end(), [](uint8_t s) { return s & 1; })) {
        std::fill(correction.begin(), correction.end(), uint8_t{0});
        outcome.solutions = 1;  // no flips, found without running a leg
        return outcome;
    }
    ws.supports.clear();
    ws.support_begin.assign(1, 0);
    double best_weight = std::numeric_limits<double>::infinity();

    const BpSettings first = bp_settings(settings_.first_iterations);
    BpOutcome bp = first_free_.usable()
                       ? run_restricted_belief_propagation(graph_, prior_llr_, syndrome, first, first_strength_,
                                                           first_free_, ws.bp)
                       : run_memory_belief_propagation(graph_, prior_llr_, syndrome, first,
                                                       BpMemory{first_strength_, false}, ws.bp);
    outcome.legs = 1;
    outcome.iterations = bp.iterations;
    if (bp.explained) outcome.solutions += record_solution(ws, correction, best_weight);
    // Later legs and OSD read every posterior; a restricted first leg has
    // them inside its region only.
    bool posteriors_complete = !first_free_.usable();
    const size_t first_iterations = bp.iterations;
    auto complete_posteriors = [&] {
        if (!posteriors_complete) complete_posterior(graph_, first_free_, first_iterations, ws.bp);
        posteriors_complete = true;
    };
    const bool settled = bp.explained && bp.iterations == 0;  // the starting decision already explains it
    if (!settled) {
        ws.strength.resize(graph_.n_qubits);
        const BpSettings later = bp_settings(settings_.leg_iterations);
        // A call being stopped (Ctrl-C) ends the shot between legs; its
        // result is then never used.
        for (size_t r = 1; r < settings_.legs && outcome.solutions < settings_.solutions; ++r) {
            if (stop_requested()) return outcome;
            complete_posteriors();
            leg_strengths(r, ws.strength);
            bp = run_memory_belief_propagation(graph_, prior_llr_, syndrome, later, BpMemory{ws.strength, true},
                                               ws.bp);
            ++outcome.legs;
            outcome.iterations += bp.iterations;
            if (bp.explained) outcome.solutions += record_solution(ws, correction, best_weight);
        }
    }
    if (outcome.solutions > 0) return outcome;
    outcome.fallback = true;
    if (settings_.fallback == RelayFallback::Osd) {
        complete_posteriors();
        outcome.explained = osd_search(graph_, rank_, ws.bp.posterior, prior_llr_, syndrome, settings_.osd, ws.osd,
                                       correction);
    } else {
        std::copy(ws.bp.hard_decision.begin(), ws.bp.hard_decision.begin() + graph_.n_qubits, correction.begin());
        outcome.explained = false;
    }
    return outcome;
}

void RelayBpEngine::decode_batch(const uint8_t* syndromes, size_t n_shots, uint8_t* corrections) const {
    decode_rows_on_pool(*this, syndromes, n_shots, graph_.n_checks, corrections, graph_.n_qubits);
}

}  // namespace vornex
