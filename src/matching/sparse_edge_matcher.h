// EdgeMatcher on the exact matching engine, through its door (ExactMatcher).
//
// The caller's edges may repeat a pair of ends (parallel edges) or join a
// detector to itself. The matcher's graph holds one edge per pair of ends;
// a call's weights are rounded by the engine's rule over all of them, each
// pair carries the lightest of its edges under those weights (the first on
// a tie), and the flips go to that edge. A call with new weights hands the
// pairs' weights to the matcher as overrides for that call only; a call with
// the build weights overrides nothing. Self-loops are never matched.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "base/result.h"
#include "matching/edge_matcher.h"
#include "matching/exact_matcher.h"

namespace vornex {

class SparseEdgeMatcher final : public EdgeMatcher {
public:
    // Edge ends as detector ids, kNoIndex for the boundary; one non-negative
    // finite weight per edge.
    static Result<SparseEdgeMatcher> create(uint32_t n_detectors,
                                            std::span<const std::pair<uint32_t, uint32_t>> edge_ends,
                                            std::span<const double> weights);

    Status match(std::span<const uint8_t> syndrome, std::span<const double> weights,
                 std::span<uint8_t> edge_flips) const override;

    // A matching of the `fired` detectors under the build weights with a few
    // edges re-weighted for this call (caller's edge ids, real weights at the
    // build weights' scale; each edge at most once): only the pairs of those
    // edges are touched, so the call costs the overrides and the matching,
    // never a pass over every edge. `matched` gets the caller's edges of the
    // matching (overwritten). Fails with the engine's text, or on an edge out
    // of range or a negative or non-finite weight.
    Status match_with_overrides(std::span<const uint32_t> fired, std::span<const EdgeWeight> overrides,
                                std::vector<uint32_t>& matched) const;

private:
    SparseEdgeMatcher() = default;

    std::optional<ExactMatcher> matcher_;  // one edge per pair of ends, integer weights at scale 1
    size_t n_edges_ = 0;                   // the caller's edges
    std::vector<uint32_t> pair_begin_;     // per pair + 1: offsets into pair_edges_
    std::vector<uint32_t> pair_edges_;     // the caller's edges of each pair, in input order
    std::vector<uint32_t> build_chosen_;   // per pair: its lightest edge under the build weights
    std::vector<int64_t> build_discrete_;  // per caller edge: its build weight, rounded
    std::vector<uint32_t> edge_pair_;      // per caller edge: its pair (kNoIndex for a self-loop)
    double build_scale_ = 1.0;             // real weight -> rounded, as the build weights were
};

}  // namespace vornex
