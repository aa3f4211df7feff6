// The graph view of a detector error model, the input of every graph decoder.
//
// Each error is split at '^' into components; a component flipping one
// detector is an edge to the boundary, one flipping two is an edge between
// them. Components on the same detectors are merged as independent flips,
// p = p1(1 - p2) + p2(1 - p1), and weighted ln((1 - p) / p).
//
// Decisions a decoder must know about:
// - p = 0 mechanisms, and merged edges whose flips cancel to p = 0, are dropped.
// - A merged edge keeps the observables of the first component seen in model
//   order (the components of one edge nearly always agree; when they do not,
//   the first one is what the peers keep too).
// - p > 0.5 gives a negative weight and p = 0.5 a zero weight. They are kept
//   as computed; weighted decoders that need non-negative weights refuse them
//   (see require_non_negative_weights).
// - A component flipping more than two detectors has no edge: building the
//   view fails, naming the line, since no graph decoder can take it.
// - Components flipping observables but no detector cannot be seen by any
//   decoder; they are counted and dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "base/result.h"
#include "dem/dem_model.h"

namespace vornex {

// The `v` of a boundary edge.
inline constexpr uint32_t kDemBoundary = 0xFFFFFFFFu;

struct DemEdge {
    uint32_t u;          // smaller detector
    uint32_t v;          // larger detector, or kDemBoundary
    double probability;  // merged, in (0, 1]
    double weight;       // ln((1 - p) / p); negative above p = 0.5, -inf at p = 1
};

struct DemGraph {
    uint32_t num_detectors = 0;
    uint32_t num_observables = 0;
    std::vector<DemEdge> edges;              // ascending (u, v), each pair once
    std::vector<uint32_t> observable_begin;  // edges.size() + 1 offsets into observables
    std::vector<uint32_t> observables;       // ascending within an edge
    size_t undetectable_components = 0;      // flipped observables but no detector; dropped

    std::span<const uint32_t> observables_of(size_t edge) const {
        return {observables.data() + observable_begin[edge], observables.data() + observable_begin[edge + 1]};
    }
    // Index of the edge (u, v), u < v or v == kDemBoundary; edges.size() when absent.
    size_t edge_index(uint32_t u, uint32_t v) const;
};

// The edges of `graph` that the '^'-separated components of the model's
// error `error` are, in the order of the components (an edge twice when two
// components are the same edge). Components that flip no detector, or that
// the view has no edge for, are skipped. `detectors` is scratch.
void decomposed_edges(const DemGraph& graph, const DetectorErrorModel& model, size_t error,
                      std::vector<uint32_t>& detectors, std::vector<uint32_t>& edges);

// Builds the graph view; fails on a component with more than two detectors.
Result<DemGraph> build_dem_graph(const DetectorErrorModel& model);

// Fails, naming the first such edge, when an edge has probability above 0.5
// (negative weight). `decoder` names the decoder in the message.
Status require_non_negative_weights(const DemGraph& graph, const char* decoder);

}  // namespace vornex
