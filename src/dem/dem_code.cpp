#include "dem/dem_code.h"

namespace vornex {

Result<DemCode> dem_code_from_graph(const DemGraph& graph) {
    if (graph.num_detectors == 0) return value_error("the model has no detectors; there is nothing to decode");
    DemCode code;
    code.check_to_qubits.resize(graph.num_detectors);
    for (size_t e = 0; e < graph.edges.size(); ++e) {
        const DemEdge& edge = graph.edges[e];
        code.check_to_qubits[edge.u].push_back(static_cast<uint32_t>(e));
        if (edge.v != kDemBoundary) code.check_to_qubits[edge.v].push_back(static_cast<uint32_t>(e));
        code.weights.push_back(edge.weight);
    }
    const double placeholder_weight = graph.edges.empty() ? 1.0 : graph.edges[0].weight;
    for (auto& check : code.check_to_qubits) {
        if (!check.empty()) continue;
        const auto column = static_cast<uint32_t>(code.weights.size());
        check = {column, column};
        code.weights.push_back(placeholder_weight);
    }
    code.n_qubits = code.weights.size();
    code.observables = std::make_shared<const ModelObservables>(
        ModelObservables{graph.num_detectors, ObservableMap::from_graph(graph, code.n_qubits)});
    return code;
}

Result<DemCode> dem_code_from_model(const DetectorErrorModel& model, const char* weighted_decoder) {
    auto graph = build_dem_graph(model);
    if (!graph) return graph.error();
    if (weighted_decoder != nullptr) {
        if (auto status = require_non_negative_weights(graph.value(), weighted_decoder); !status) return status.error();
    }
    return dem_code_from_graph(graph.value());
}

}  // namespace vornex
