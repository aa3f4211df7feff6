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
    // Region of a restricted run (restricted_bp.h); the marks are all clear
    // and hard_decision is 0 outside the listed qubits only while
    // region_clean holds. Every whole-graph run clears region_clean.
    std::vector<uint8_t> check_marked;  // per check: listed in region_checks
    std::vector<uint8_t> qubit_marked;  // per qubit: listed in region_qubits
    std::vector<uint32_t> region_checks;
    std::vector<uint32_t> region_qubits;
    bool region_clean = false;
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

// Memory strengths of BP with memory (the disordered-memory BP of Müller et
// al. 2025, which Relay-BP chains): in every iteration qubit q's bias is
// (1 - g_q) prior_q + g_q M_q, where M_q is its posterior after the previous
// iteration, and the bias takes the prior's place in the qubit update. With
// every g_q = 0 this is plain BP, bit for bit.
struct BpMemory {
    std::span<const double> strength;  // g per qubit; negative values push away from the last posterior
    // Start from the posteriors already in the messages (the marginals a
    // previous run ended with) instead of the priors, and skip the check of
    // the starting decision, which such marginals typically already pass.
    bool resume = false;
};

// BP with memory; as run_belief_propagation otherwise (no budget). The
// starting qubit-to-check messages are each qubit's first bias.
// Precondition: memory.strength.size() == n_qubits, and with resume the
// messages hold n_qubits posteriors.
BpOutcome run_memory_belief_propagation(const TannerGraph& graph, std::span<const double> prior_llr,
                                        std::span<const uint8_t> syndrome, const BpSettings& settings,
                                        const BpMemory& memory, BpMessages& messages);

// Carries a parallel run on from iteration so_far.iterations with every
// array of the messages complete (v2c and posterior of the last iteration);
// an empty strength means plain BP.
BpOutcome continue_belief_propagation(const TannerGraph& graph, std::span<const double> prior_llr,
                                      std::span<const uint8_t> syndrome, const BpSettings& settings,
                                      std::span<const double> strength, BpMessages& messages, BpOutcome so_far);

// One check's outgoing messages and one qubit's update (posterior, outgoing
// messages, hard decision) from the messages in place, exactly as a
// parallel iteration computes them; for runs that visit part of the graph.
void bp_update_check(const TannerGraph& graph, size_t c, bool is_fired, const BpSettings& settings,
                     BpMessages& messages);
void bp_update_qubit(const TannerGraph& graph, size_t q, double bias, BpMessages& messages);

}  // namespace vornex
