// Weighted Union-Find: the Union-Find decoder with clusters growing along
// each edge in proportion to its weight (integer-discretised log-likelihood
// ratios), as in the weighted Union-Find of Huang, Newman and Brown; the same
// peeling of the fully grown edges and the same single boundary node as the
// defined decoder.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/result.h"
#include "code/check_graph.h"
#include "uf/uf_core.h"

namespace vornex {

class WeightedUnionFind {
public:
    // Integer units of the largest weight when weights differ (the smallest
    // takes at least one); finer units
    // follow the weights more closely at the price of more growth rounds.
    static constexpr uint32_t kMaxUnits = 64;
    static_assert(kMaxUnits <= EventScratch::kMaxWeight, "growth buckets must span the largest weight");

    // `weights` holds one finite non-negative weight per qubit (for example
    // ln((1 - p) / p)). Without weights, or with all weights equal, every
    // edge takes two units: exactly the defined Union-Find decoder.
    static Result<WeightedUnionFind> create(CheckList check_to_qubits, std::optional<size_t> n_qubits,
                                            QubitWeights weights);

    // Same preconditions as decode_into of the defined core.
    void decode_into(std::span<const uint8_t> syndrome, UfWorkspace& workspace, std::span<uint8_t> correction) const;

    std::vector<uint8_t> decode(std::span<const uint8_t> syndrome) const;

    const CheckGraph& graph() const { return graph_; }
    // Integer growth units of each edge, in edge order.
    const std::vector<uint32_t>& edge_units() const { return units_; }

private:
    WeightedUnionFind(CheckGraph graph, std::vector<uint32_t> units)
        : graph_(std::move(graph)), units_(std::move(units)) {}

    CheckGraph graph_;
    std::vector<uint32_t> units_;
};

// Per-edge units from per-qubit weights (see WeightedUnionFind::create), or
// the error text naming the first bad weight.
Result<std::vector<uint32_t>> discretise_weights(const CheckGraph& graph, std::span<const double> weights);

}  // namespace vornex
