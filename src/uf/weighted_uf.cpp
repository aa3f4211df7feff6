#include "uf/weighted_uf.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "uf/cluster_decode.h"
#include "uf/event_growth.h"

namespace vornex {

Result<std::vector<uint32_t>> discretise_weights(const CheckGraph& graph, std::span<const double> weights) {
    if (weights.size() != graph.n_qubits)
        return value_error("weights must have one entry per qubit: got " + std::to_string(weights.size()) +
                           ", expected " + std::to_string(graph.n_qubits));
    for (size_t q = 0; q < weights.size(); ++q)
        if (!std::isfinite(weights[q]) || weights[q] < 0)
            return value_error("weights must be finite and non-negative: weight " + std::to_string(q) + " is " +
                               std::to_string(weights[q]));
    double largest = 0;
    bool uniform = true;
    for (const CheckEdge& e : graph.edges) {
        largest = std::max(largest, weights[e.q]);
        uniform = uniform && weights[e.q] == weights[graph.edges[0].q];
    }
    // Equal weights grow as the defined decoder does, two half-steps an edge.
    std::vector<uint32_t> units(graph.edges.size(), 2);
    if (uniform) return units;
    for (size_t i = 0; i < graph.edges.size(); ++i)
        units[i] = static_cast<uint32_t>(
            std::max<long>(1, std::lround(weights[graph.edges[i].q] / largest * WeightedUnionFind::kMaxUnits)));
    return units;
}

Result<WeightedUnionFind> WeightedUnionFind::create(CheckList check_to_qubits, std::optional<size_t> n_qubits,
                                                    QubitWeights weights) {
    auto graph = build_check_graph(std::move(check_to_qubits), n_qubits);
    if (!graph) return graph.error();
    std::vector<uint32_t> units(graph.value().edges.size(), 2);
    if (weights) {
        auto discrete = discretise_weights(graph.value(), *weights);
        if (!discrete) return discrete.error();
        units = std::move(discrete).value();
    }
    return WeightedUnionFind(std::move(graph).value(), std::move(units));
}

namespace {

// Both growths fill the same edges tick for tick. Rounds cost a walk of the
// active frontiers per filled edge, which is cheapest while there are few
// small clusters; events cost a requeue per edge whose rate changes, which
// wins once many clusters grow at once (measured on circuit-level memory
// models, d = 3 to 17).
constexpr size_t kRoundGrowthMaxDefects = 16;

}  // namespace

void WeightedUnionFind::decode_into(std::span<const uint8_t> syndrome, UfWorkspace& workspace,
                                    std::span<uint8_t> correction) const {
    decode_clusters(graph_, syndrome, workspace, correction, [this](ClusterSet& clusters, UfWorkspace& ws) {
        if (ws.defects.size() <= kRoundGrowthMaxDefects) {
            grow_clusters(graph_, EdgeWeights{units_.data()}, clusters, ws.growth);
        } else {
            grow_clusters_by_events(graph_, EdgeWeights{units_.data()}, clusters, ws.growth, ws.events);
        }
    });
}

std::vector<uint8_t> WeightedUnionFind::decode(std::span<const uint8_t> syndrome) const {
    std::vector<uint8_t> correction(graph_.n_qubits, 0);
    thread_local UfWorkspace kept;
    decode_into(syndrome, kept, correction);
    return correction;
}

}  // namespace vornex
