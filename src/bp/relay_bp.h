// Relay-BP (Müller, Alexander, Beverland, Bühler, Johnson, Maurer, Vandeth
// 2025): min-sum BP with memory, run in legs. Each qubit's bias in an
// iteration mixes its prior with its own posterior of the previous iteration,
// by a memory strength per qubit (BpMemory). The first leg uses one uniform
// strength; every later leg draws fresh strengths uniformly from
// [strength_min, strength_max] (disordered, partly negative, which shakes BP
// out of the trapping sets where it oscillates) and starts from the
// posteriors the previous leg ended with. Every leg whose hard decision
// explains the syndrome yields a solution; after `solutions` distinct ones
// (or `legs` legs) the lightest is returned. A shot with no solution goes to
// the fallback post-processor (OSD on the last posteriors), and the outcome
// says so.
//
// Strengths of leg r are drawn from a generator seeded by (seed, r), so they
// are the same for every shot: runs repeat exactly, and batches equal
// single calls. The first leg runs restricted to the shot's events
// (restricted_bp.h) when the model allows it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "bp/belief_propagation.h"
#include "bp/bp_settings.h"
#include "bp/osd_search.h"
#include "bp/restricted_bp.h"
#include "bp/tanner_graph.h"
#include "code/check_graph.h"

namespace vornex {

// How solutions are compared: the sum of the flipped columns' prior LLRs
// (the likeliest error) or their number.
enum class RelayWeight : uint8_t { Prior, Count };
// What a shot without a solution gets: OSD on the last leg's posteriors, or
// that leg's hard decision as it stands.
enum class RelayFallback : uint8_t { Osd, None };

struct RelaySettings {
    double ms_scaling_factor = 1.0;   // min-sum messages are multiplied by this
    double first_strength = 0.125;    // memory strength of every qubit in the first leg
    size_t first_iterations = 80;     // iteration cap of the first leg
    size_t leg_iterations = 60;       // iteration cap of each later leg
    size_t legs = 301;                // legs at most, the first included
    double strength_min = -0.24;      // later legs draw strengths uniformly from [min, max]
    double strength_max = 0.66;
    size_t solutions = 1;             // stop after this many distinct solutions
    RelayWeight weight = RelayWeight::Prior;
    RelayFallback fallback = RelayFallback::Osd;
    OsdSettings osd{OsdMethod::CombinationSweep, 7};
    uint64_t seed = 0;
};

// Name parsers and range checks; the texts name the keyword.
Result<RelayWeight> parse_relay_weight(std::string_view name);
Result<RelayFallback> parse_relay_fallback(std::string_view name);
Status validate_relay_settings(const RelaySettings& settings);

// What one decode did.
struct RelayOutcome {
    size_t legs = 0;           // legs run
    size_t iterations = 0;     // BP iterations over all legs
    size_t solutions = 0;      // distinct solutions found
    bool fallback = false;     // no leg found a solution; the fallback wrote the correction
    bool explained = true;     // the correction explains the syndrome
};

class RelayBpEngine {
public:
    // All per-call state; reuse it across calls of one thread.
    struct Workspace {
        BpMessages bp;
        OsdScratch osd;
        std::vector<double> strength;        // per qubit: this leg's memory strengths
        std::vector<uint32_t> supports;      // flipped qubits of each solution so far, one after another
        std::vector<uint32_t> support_begin; // solution i is supports[support_begin[i], support_begin[i + 1])
        std::vector<uint32_t> support;       // the solution being checked
        bool busy = false;                   // held by a ScratchLease on this thread
    };

    // column_error_rates: one flip probability per qubit, each in [0, 1].
    static Result<RelayBpEngine> create(const CheckList& check_to_qubits, size_t n_qubits,
                                        std::span<const double> column_error_rates, const RelaySettings& settings);

    size_t n_qubits() const { return graph_.n_qubits; }
    size_t n_checks() const { return graph_.n_checks; }
    const RelaySettings& settings() const { return settings_; }
    const TannerGraph& graph() const { return graph_; }
    std::span<const double> prior_llr() const { return prior_llr_; }
    // The per-iteration BP settings of every leg (min-sum, parallel, syndrome stop).
    BpSettings bp_settings(size_t max_iterations) const;
    // Whether the first leg runs restricted to the shot's events.
    bool restricts_first_leg() const { return first_free_.usable(); }

    // Writes leg r's memory strengths (r >= 1) into `out` (n_qubits values).
    void leg_strengths(size_t r, std::span<double> out) const;

    // Preconditions: syndrome.size() == n_checks, correction.size() == n_qubits.
    RelayOutcome decode_into(std::span<const uint8_t> syndrome, std::span<uint8_t> correction, Workspace& ws) const;

    // Rows of n_checks bytes into rows of n_qubits bytes on the worker pool.
    void decode_batch(const uint8_t* syndromes, size_t n_shots, uint8_t* corrections) const;

private:
    RelayBpEngine() = default;
    // Records the hard decision as a solution if it is new; true when it was.
    bool record_solution(Workspace& ws, std::span<uint8_t> best, double& best_weight) const;

    TannerGraph graph_;
    RelaySettings settings_;
    std::vector<double> prior_llr_;
    std::vector<double> first_strength_;  // per qubit: settings_.first_strength
    bool all_priors_positive_ = false;    // an empty syndrome then decodes to no flips
    size_t rank_ = 0;
    EventFreeBp first_free_;              // event-free tables of the first leg
};

}  // namespace vornex
