// EdgeMatcher on the exact sparse matching engine.
//
// The graph is built once. Each thread keeps its own copy to reweight, so
// concurrent calls never share weights; a call with new weights rewrites the
// copy's half-edge weights in place, and a call with the build weights
// rewrites nothing when the copy already holds them.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "base/result.h"
#include "matching/edge_matcher.h"
#include "matching/sparse/reweighted_graph.h"

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

private:
    SparseEdgeMatcher() = default;

    sparse::ReweightedGraph built_;  // the graph with the build weights, copied by each thread
    uint64_t serial_ = 0;            // tells a thread's copy of this graph from copies of other matchers'
};

}  // namespace vornex
