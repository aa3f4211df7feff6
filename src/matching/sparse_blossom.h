// Matching decoder on integer breadth-first path costs.
//
// Every pair of defects is joined by the cost of the first (fewest-hop) path
// a breadth-first search finds between their checks, every defect by a cost
// to one shared boundary vertex; the small complete graph goes to the blossom
// engine unscaled, and matched check pairs flip the qubits of a shortest-hop
// path. Corrections that do not reproduce the syndrome are replaced by the
// weighted decoder's result on a unit-weight graph of the same code. A decode
// with per-qubit weights runs on cheapest paths with a boundary exit per
// defect instead (sparse_weighted_decode.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/result.h"
#include "code/check_graph.h"
#include "matching/blossom.h"

namespace vornex {

// A check's neighbour through one qubit; the stored cost is always 1, and a
// decode may override it per qubit.
struct SparseNeighbour {
    uint32_t check;
    uint32_t cost;
    uint32_t qubit;
};

// Costs a caller-supplied qubit weight maps to.
inline constexpr uint32_t kSparseMaxCost = 100000;

// Path cost of one qubit with weight w: floor(1000 / w) kept within
// 1 ..= 100000; weights <= 0 and NaN cost the maximum.
uint32_t sparse_edge_cost(double w);

class SparseBlossomDecoder {
public:
    // Fails when the qubits it declares would not fit the memory budget.
    static Result<SparseBlossomDecoder> create(CheckList check_to_qubits, std::optional<size_t> n_qubits);

    size_t n_qubits() const { return n_qubits_; }
    size_t n_checks() const { return n_checks_; }

    // Unit costs. Fails (as a panic) only when the lengths do not fit.
    Status decode_into(std::span<const uint8_t> syndrome, std::span<uint8_t> correction) const;
    Result<std::vector<uint8_t>> decode(std::span<const uint8_t> syndrome) const;

    // One decode with per-qubit weights (a repeated qubit keeps its last
    // weight); the overrides are gone again when it returns. Paths are the
    // cheapest under the weights, and a defect may leave through a boundary
    // qubit, whose cost is its own weight when given, else the cheapest
    // cost of its check's edges (sparse_weighted_decode.h). An empty list is
    // the plain decode.
    Result<std::vector<uint8_t>> decode_with_weights(std::span<const uint8_t> syndrome,
                                                     std::span<const std::pair<uint32_t, double>> weights);

    // Rows of n_checks bytes into rows of n_qubits bytes, in parallel.
    void batch_decode(const uint8_t* syndromes, size_t n_shots, uint8_t* corrections) const;
    // Same, into a new (n_shots, n_qubits) buffer.
    std::vector<uint8_t> batch_decode(std::span<const uint8_t> syndromes, size_t n_shots) const;

    Status check_syndrome_length(size_t length) const;

    const BlossomGraph& inner_blossom() const { return inner_blossom_; }
    std::span<const SparseNeighbour> neighbours_of(size_t check) const {
        return {neighbours_.data() + neighbour_begin_[check], neighbours_.data() + neighbour_begin_[check + 1]};
    }
    std::span<const SparseNeighbour> all_neighbours() const { return neighbours_; }
    bool is_boundary_check(size_t check) const { return is_boundary_check_[check] != 0; }
    // The first qubit below n_qubits that lies in this check only, or kNoIndex.
    uint32_t boundary_qubit(size_t check) const { return boundary_qubit_[check]; }

private:
    std::vector<uint32_t> neighbour_begin_;  // n_checks + 1 offsets
    std::vector<SparseNeighbour> neighbours_;
    std::vector<uint8_t> is_boundary_check_;
    std::vector<uint32_t> boundary_qubit_;  // per check, kNoIndex without one
    CheckList check_to_qubits_;
    BlossomGraph inner_blossom_;
    std::unordered_map<uint32_t, double> weight_overrides_;
    size_t n_qubits_ = 0;
    size_t n_checks_ = 0;

    // The correction when it reproduces the syndrome, else the unit-weight
    // blossom decode written over it.
    Status verified(std::span<const uint8_t> syndrome, std::span<uint8_t> correction) const;
    // Cost of leaving through the check's boundary qubit under the overrides.
    uint32_t exit_cost(size_t check, std::span<const uint32_t> entry_costs) const;
};

}  // namespace vornex
