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
    code.observables = ObservableMap::from_graph(graph, code.n_qubits);
    return code;
}

}  // namespace vornex
