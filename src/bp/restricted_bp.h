// BP whose cost follows the shot: parallel BP with the syndrome stop that
// visits only the part of the Tanner graph a shot's detection events have
// reached, and leaves the rest at the values BP computes on a shot with no
// events (which depend only on the model and the settings, so they are
// computed once, per iteration).
//
// Why this is exact: with the parallel schedule, a message of iteration t
// depends only on syndrome bits within t check-qubit-check steps. Let C_t be
// the fired checks and the checks next to a qubit of Q_{t-1}, and Q_t the
// qubits next to a check of C_t. A check outside C_t sees only qubits whose
// messages are still event-free, and fires nothing itself, so its messages
// are the event-free ones; likewise a qubit outside Q_t. Iteration t
// therefore updates C_t and Q_t alone, reading event-free values across the
// region's edge, with the same arithmetic as a whole-graph iteration: the
// messages inside the region, the hard decision everywhere, the iteration
// count and the outcome are those of run_belief_propagation, bit for bit.
// Event-free hard decisions are all 0 when every prior favours no flip (no
// message of an event-free run is then negative); the tables check that,
// and the stop test needs only the checks next to the region.
//
// A run falls back to whole-graph iterations, from the exact state reached
// so far, once the region holds half of the graph's edges or the tables run
// out (they stop early when the event-free run becomes stationary, and at a
// memory cap otherwise).
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "bp/belief_propagation.h"
#include "bp/bp_settings.h"
#include "bp/tanner_graph.h"

namespace vornex {

// Largest size of one event-free table set.
inline constexpr size_t kEventFreeTableBytes = size_t{32} << 20;

// The messages of BP on an all-zero syndrome, iteration by iteration.
class EventFreeBp {
public:
    // The tables for `settings` (and per-qubit memory strengths, or none).
    // The result is not usable (restricted runs then decline) unless the
    // schedule is parallel, the stop is on the syndrome, and every prior and
    // every event-free posterior is positive.
    static EventFreeBp build(const TannerGraph& graph, std::span<const double> prior_llr, const BpSettings& settings,
                             std::span<const double> strength = {}, size_t max_bytes = kEventFreeTableBytes);

    bool usable() const { return usable_; }
    // Whether iteration t's state is in the tables.
    bool has(size_t t) const { return usable_ && (stationary_ || t <= last_); }
    // Last iteration stored; when stationary, every later one equals it.
    size_t last_iteration() const { return last_; }
    bool stationary() const { return stationary_; }

    // Event-free state after iteration t (t = 0: the start). Precondition: has(t).
    const double* v2c(size_t t) const { return v2c_.data() + row(t) * n_edges_; }
    const double* c2v(size_t t) const { return c2v_.data() + row(t) * n_edges_; }
    const double* posterior(size_t t) const { return posterior_.data() + row(t) * n_qubits_; }

private:
    size_t row(size_t t) const { return t < last_ ? t : last_; }

    bool usable_ = false;
    bool stationary_ = false;
    size_t last_ = 0;
    size_t n_edges_ = 0;
    size_t n_qubits_ = 0;
    std::vector<double> v2c_;        // (last_ + 1) rows of n_edges
    std::vector<double> c2v_;        // likewise; row 0 is all zero
    std::vector<double> posterior_;  // (last_ + 1) rows of n_qubits
};

// A region that grows with every iteration, as exactness needs.
inline constexpr size_t kUnboundedRadius = std::numeric_limits<size_t>::max();

// Restricted BP: the outcome and hard decision of run_belief_propagation
// (or of run_memory_belief_propagation without resume, when strength is not
// empty) with the settings the tables were built for. Afterwards the
// posteriors are valid inside the region (messages.qubit_marked) or, when
// the run fell back to whole-graph iterations (messages.region_clean is
// then false), everywhere; complete_posterior fills in the rest.
// Preconditions: free_run.usable(), built from the same graph, priors,
// settings and strengths.
//
// With a finite `radius` the region stops growing after `radius` steps
// (qubits join only in the first `radius` iterations): BP then runs on the
// fired checks' neighbourhood of that radius alone, everything beyond held at
// its event-free values. That is an approximation, no longer whole-graph BP:
// a message that leaves the region never comes back changed. Its error falls
// with the radius as the influence of a syndrome bit fades with distance;
// callers choose the radius by measuring their results against the exact run.
BpOutcome run_restricted_belief_propagation(const TannerGraph& graph, std::span<const double> prior_llr,
                                            std::span<const uint8_t> syndrome, const BpSettings& settings,
                                            std::span<const double> strength, const EventFreeBp& free_run,
                                            BpMessages& messages, size_t radius = kUnboundedRadius);

// Writes the event-free posterior of iteration `iterations` to every qubit
// outside the region of the last restricted run.
void complete_posterior(const TannerGraph& graph, const EventFreeBp& free_run, size_t iterations,
                        BpMessages& messages);

}  // namespace vornex
