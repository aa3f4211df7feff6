#include "matching/model_graph.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace vornex {

Result<ModelMatchingGraph> model_matching_graph(const DemGraph& dem, const char* decoder, WeightRounding rounding) {
    if (auto status = require_non_negative_weights(dem, decoder); !status) return status.error();
    if (dem.num_observables > 64) {
        return value_error(std::string(decoder) + " supports at most 64 observables; the model has " +
                           std::to_string(dem.num_observables));
    }
    ModelMatchingGraph out;
    out.weights.resize(dem.edges.size());
    for (size_t k = 0; k < dem.edges.size(); ++k) out.weights[k] = std::max(0.0, dem.edges[k].weight);
    const double top = out.weights.empty() ? 0.0 : *std::max_element(out.weights.begin(), out.weights.end());
    const bool all_equal =
        std::all_of(out.weights.begin(), out.weights.end(), [&](double w) { return w == top; });
    std::vector<int64_t> integer(dem.edges.size());
    if (rounding == WeightRounding::Fine && top > 0) {
        out.scale = static_cast<double>(sparse::kDiscreteWeightScale) / top;
        for (size_t k = 0; k < integer.size(); ++k) integer[k] = std::llround(out.weights[k] * out.scale);
    } else {
        if (auto status = sparse::discretise_weights_into(out.weights, integer); !status) return status.error();
        // The rule's scale: all-equal weights map to 1, others the largest to kDiscreteWeightScale.
        out.scale = top > 0 ? (all_equal ? 1.0 / top : static_cast<double>(sparse::kDiscreteWeightScale) / top) : 1.0;
    }
    std::vector<sparse::GraphEdge> edges(dem.edges.size());
    for (size_t k = 0; k < dem.edges.size(); ++k) {
        sparse::ObsMask mask = 0;
        for (const uint32_t o : dem.observables_of(k)) mask |= sparse::ObsMask{1} << o;
        const DemEdge& e = dem.edges[k];
        edges[k] = {e.u, e.v == kDemBoundary ? sparse::kBoundary : e.v, integer[k], mask, static_cast<uint32_t>(k)};
    }
    auto graph = sparse::build_matching_graph(dem.num_detectors, edges);
    if (!graph) return graph.error();
    out.graph = std::move(graph).value();
    return out;
}

}  // namespace vornex
