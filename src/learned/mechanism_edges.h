// The error mechanisms of a detector error model as sets of graph-view edges.
//
// A decomposed mechanism ("D1 D2 ^ D5 D6") flips several edges at once; the
// graph view merges them into independent edges and forgets that they move
// together. Kept here, the grouping serves two ends: samples of the model's
// own noise (each mechanism fires with its probability and flips all of its
// edges, as the circuit does) and, per edge, the edges it fires together
// with, whose evidence tells the learned weights about correlated errors.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "base/wyrand.h"
#include "dem/dem_graph.h"
#include "dem/dem_model.h"
#include "matching/exact_matcher.h"

namespace vornex {

class MechanismEdges {
public:
    // Every column of `model` with a positive probability, its components
    // looked up among the edges of `graph` (the graph view of `model`).
    static MechanismEdges create(const DetectorErrorModel& model, const DemGraph& graph);

    size_t n_mechanisms() const { return probability_.size(); }
    std::span<const uint32_t> edges_of(size_t mechanism) const {
        return std::span(edges_).subspan(edge_begin_[mechanism], edge_begin_[mechanism + 1] - edge_begin_[mechanism]);
    }

    // Per graph edge, the other edges some mechanism flips together with it,
    // ascending, each once: offsets (n_edges + 1) and the lists.
    void partners(size_t n_edges, std::vector<uint32_t>& begin, std::vector<uint32_t>& list) const;

    // One independent draw of every mechanism. Writes the flipped detectors
    // into `events` (zeroed first), returns the flipped observables, and
    // sets edge_flips[e] to the parity of the flips landing on edge e; the
    // edges it touched are listed in `touched` (so the caller can reset
    // edge_flips without a pass over every edge).
    sparse::ObsMask draw(Wyrand& rng, const DemGraph& graph, std::span<uint8_t> events,
                         std::span<uint8_t> edge_flips, std::vector<uint32_t>& touched) const;

private:
    std::vector<double> probability_;       // per mechanism
    std::vector<uint32_t> edge_begin_;      // n_mechanisms + 1 offsets into edges_
    std::vector<uint32_t> edges_;           // graph edges of each mechanism, one per component
    std::vector<sparse::ObsMask> observables_;  // per mechanism: what the whole mechanism flips
};

}  // namespace vornex
