// BP-OSD with every setting open: per-column priors, the BP rule, schedule,
// stop and iteration cap of BpSettings, and OSD of any order. The tables are
// immutable after construction and shared by concurrent decodes; each
// caller brings its own workspace, so batches run one workspace per worker
// thread.
//
// The defined BPOSDDecoder is a preset of this engine (create_defined): one
// flip probability for every column, taken as given and clamped; plain
// min-sum, parallel schedule, the posterior stop, at most 50 iterations and
// OSD-0; a qubit listed k times in a check weighed k times by BP (one matrix
// entry for OSD); and a check fired in BP's messages only by the byte 1,
// while OSD reads bit 0 of each byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/result.h"
#include "bp/belief_propagation.h"
#include "bp/bp_settings.h"
#include "bp/osd_search.h"
#include "bp/restricted_bp.h"
#include "bp/tanner_graph.h"
#include "code/check_graph.h"

namespace vornex {

struct BpOsdSettings {
    BpSettings bp;
    OsdSettings osd;
};

// What a decode did, for callers that report or branch on it.
struct BpOsdOutcome {
    size_t iterations = 0;
    bool bp_explained = false;  // BP's hard decision explained the syndrome
    bool osd_ran = false;       // OSD was consulted
};

class BpOsdEngine {
public:
    // All per-call state of one decode; reuse it across calls of one thread.
    struct Workspace {
        BpMessages bp;
        OsdScratch osd;
        std::vector<uint8_t> bp_syndrome;  // the syndrome as the preset's BP reads it, when that differs
        bool busy = false;                 // held by a ScratchLease on this thread
    };

    // column_error_rates: one flip probability per qubit, each in [0, 1].
    static Result<BpOsdEngine> create(const CheckList& check_to_qubits, size_t n_qubits,
                                      std::vector<double> column_error_rates, const BpOsdSettings& settings);
    // The defined decoder's preset (see above). n_qubits == nullopt derives
    // (largest index) + 1, or 1 for a code without any index. Fails only when
    // a size does not fit the 32-bit ids.
    static Result<BpOsdEngine> create_defined(const CheckList& check_to_qubits, std::optional<size_t> n_qubits,
                                              double error_rate);

    size_t n_qubits() const { return graph_.n_qubits; }
    size_t n_checks() const { return graph_.n_checks; }
    const TannerGraph& graph() const { return graph_; }
    const BpOsdSettings& settings() const { return settings_; }
    std::span<const double> prior_llr() const { return prior_llr_; }
    size_t rank() const { return rank_; }

    // BP, then OSD unless the syndrome stop found BP's hard decision
    // explaining the syndrome. A shot with no detection events costs no BP
    // when every prior favours no flip (the correction is then all 0, as
    // OSD would find), and with the syndrome stop and parallel schedule BP
    // visits only what the shot's events reach (restricted_bp.h); without a
    // budget, the result is the same bit for bit either way. Preconditions: syndrome.size() == n_checks,
    // correction.size() == n_qubits.
    BpOsdOutcome decode_into(std::span<const uint8_t> syndrome, std::span<uint8_t> correction, Workspace& ws,
                             std::optional<BpBudget> budget = std::nullopt) const;

    // BP alone with the engine's settings, at most max_iterations iterations;
    // posteriors are left in ws.bp.posterior.
    BpOutcome run_bp(std::span<const uint8_t> syndrome, size_t max_iterations, Workspace& ws) const;

    // Decodes n_shots rows of n_checks bytes into rows of n_qubits bytes on
    // the worker pool, with one workspace per worker thread.
    void decode_batch(const uint8_t* syndromes, size_t n_shots, uint8_t* corrections) const;

private:
    BpOsdEngine() = default;
    std::span<const uint8_t> bp_syndrome(std::span<const uint8_t> syndrome, Workspace& ws) const;

    TannerGraph graph_;
    BpOsdSettings settings_;
    std::vector<double> prior_llr_;
    size_t rank_ = 0;
    bool all_priors_positive_ = false;
    EventFreeBp event_free_;  // restricted BP's tables, when the settings allow it
    // The preset's firing rule: only the byte 1 fires a check in BP.
    bool byte_one_fires_ = false;
};

// The settings of the defined preset: the defaults of BpOsdSettings but for
// the posterior stop (and kBpMaxIterations iterations).
BpOsdSettings defined_bp_osd_settings();

// Checks the length of a per-column error-rate list and its values.
Status validate_column_error_rates(std::span<const double> rates, size_t n_qubits);

// Prior log-likelihood ratios of the columns, and whether every one is
// positive (an empty syndrome then decodes to no flips without BP).
struct ColumnPriors {
    std::vector<double> llr;
    bool all_positive = false;
};
ColumnPriors column_priors(std::span<const double> rates);

}  // namespace vornex
