// Configurable belief propagation on a TannerGraph: per-column priors,
// min-sum (scaled) or product-sum check rule, parallel or serial schedule,
// and a stop either when the hard decision explains the syndrome or when the
// posteriors settle. Messages live in flat per-edge arrays of a reusable
// workspace, so an iteration never allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "bp/bp_osd.h"
#include "bp/bp_settings.h"
#include "bp/tanner_graph.h"

namespace vornex {

// Magnitude cap of product-sum messages: |tanh products| are held below 1 so
// 2 atanh stays finite (about 37.4, a flip probability of 1e-16). A check
// with no other qubit sends this too.
inline constexpr double kProductSumMaxTanh = 1.0 - 0x1p-53;

// Per-call BP state; grows only. Fields are indexed by edge id (check-major
// edge numbering of the TannerGraph) or by qubit.
struct BpMessages {
    std::vector<double> c2v;            // per edge: last message check -> qubit
    std::vector<double> v2c;            // per edge: last message qubit -> check
    std::vector<double> posterior;      // per qubit: prior + all incoming; positive favours no flip
    std::vector<uint8_t> hard_decision; // per qubit: 1 where posterior < 0
    std::vector<double> check_tanh;         // per position in a check: tanh(v2c / 2) (product-sum)
    std::vector<double> edge_tanh;      // per edge: tanh(v2c / 2), kept current (serial product-sum only)
};

struct BpOutcome {
    size_t iterations = 0;
    // The hard decision explains the syndrome (checked whatever the stop rule).
    bool explained = false;
};

// Runs BP for at most settings.max_iterations iterations. prior_llr has one
// ln((1-p)/p) per qubit. A check is fired when bit 0 of its byte is 1. With
// the syndrome stop the hard decision is also checked before the first
// iteration, so an explained syndrome (a zero one, typically) costs no
// iteration. With a budget, the clock is checked before every iteration.
// Preconditions: prior_llr.size() == n_qubits, syndrome.size() == n_checks.
BpOutcome run_belief_propagation(const TannerGraph& graph, std::span<const double> prior_llr,
                                 std::span<const uint8_t> syndrome, const BpSettings& settings,
                                 BpMessages& messages, std::optional<BpBudget> budget = std::nullopt);

}  // namespace vornex
