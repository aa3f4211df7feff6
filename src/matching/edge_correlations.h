// Which edges a decomposed error flips together, and what one of them
// firing says about the others: the rule of correlated (two-pass) matching
// (Fowler, "Optimal complexity correction of correlated errors in the
// surface code", arXiv:1310.0863).
//
// A mechanism "D1 D2 ^ D5 D6" flips two edges of the graph view at once;
// the view merges it into independent edges and forgets that. Kept here:
// for an ordered pair of distinct edges (a, b) that some mechanisms flip
// together, their joint probability j_ab (those mechanisms combined as
// independent flips, p1(1 - p2) + p2(1 - p1)), and the weight of b once a
// is known to have fired,
//     q = min(1, j_ab / p_a),   w_ab = ln((1 - q) / q), 0 when q >= 1/2,
// with p_a the merged probability of edge a. A second pass lowers each edge
// b to the least of its own weight and the w_ab of the first pass's edges a.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "base/result.h"
#include "dem/dem_graph.h"
#include "dem/dem_model.h"
#include "matching/exact_matcher.h"

namespace vornex {

class EdgeCorrelations {
public:
    // Per-thread state of second_pass_weights; only grows.
    struct Workspace {
        std::vector<uint32_t> stamp;  // per edge: the call that last set `best`
        std::vector<double> best;     // per edge: its least weight so far this call
        uint32_t clock = 0;
    };

    // The pairs of `model`, whose graph view is `dem`. Fails, naming the
    // line, on an error that flips several edges with probability above 1/2.
    static Result<EdgeCorrelations> create(const DetectorErrorModel& model, const DemGraph& dem);
    // create() held for sharing when `enabled`, else null (plain matching).
    static Result<std::shared_ptr<const EdgeCorrelations>> create_shared(const DetectorErrorModel& model,
                                                                         const DemGraph& dem, bool enabled);

    size_t n_edges() const { return weights_.size(); }
    // The edges b and weights w_ab implied by edge a, ascending by b.
    std::span<const EdgeWeight> implied_by(uint32_t a) const {
        return std::span(implied_).subspan(begin_[a], begin_[a + 1] - begin_[a]);
    }

    // Appends to `out` the second pass's weights given the first pass's
    // edges `matched`: each edge they imply gets the least of its weight
    // this shot (its last entry in `shot`, the shot's own overrides, else
    // its build weight) and the implied weights. An edge may be listed
    // more than once, each entry lower than the one before, so applying
    // the entries in order (last wins) gives the least. No allocation once
    // `ws` and `out` are warm.
    void second_pass_weights(std::span<const uint32_t> matched, std::span<const EdgeWeight> shot, Workspace& ws,
                             std::vector<EdgeWeight>& out) const;

private:
    std::vector<double> weights_;     // per edge: its build weight, ln((1 - p) / p) held at >= 0
    std::vector<uint32_t> begin_;     // n_edges + 1 offsets into implied_
    std::vector<EdgeWeight> implied_;
};

}  // namespace vornex
