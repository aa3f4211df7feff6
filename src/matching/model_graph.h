// The exact matching engine's graph of a detector error model.
//
// Every decoder that matches a model's detection events builds its graph
// here, from the model's graph view (dem/dem_graph.h): detectors become
// nodes, merged edges become engine edges whose id is the edge's index in
// the view, and the weights ln((1 - p) / p) are rounded by the engine's rule
// (sparse/matching_graph.h). The real weights and the rounding scale are
// kept so that per-shot weights (ExactMatcher's overrides) round the same way.
#pragma once

#include <cstdint>
#include <vector>

#include "base/result.h"
#include "dem/dem_graph.h"
#include "matching/sparse/matching_graph.h"

namespace vornex {

struct ModelMatchingGraph {
    sparse::MatchingGraph graph;  // engine ids are graph-view edge indices
    std::vector<double> weights;  // per graph-view edge: its non-negative real weight
    double scale = 1.0;           // engine weight of a real weight w: llround(w * scale)
};

// How real weights become the engine's integers.
enum class WeightRounding : uint8_t {
    Plain,  // the engine's rule: all-equal weights become 1 (what plain decoders always used)
    Fine,   // the largest weight becomes kDiscreteWeightScale even when all are equal, so that
            // per-shot weights between them are resolved
};

// The engine's graph of `dem`. Fails, naming `decoder`, on an edge of
// probability above 0.5 (a negative weight) or more than 64 observables.
Result<ModelMatchingGraph> model_matching_graph(const DemGraph& dem, const char* decoder,
                                                WeightRounding rounding = WeightRounding::Plain);

}  // namespace vornex
