// The weighted decode of SparseBlossomDecoder: shortest paths under the
// caller's per-qubit costs, a path to the boundary for every defect, and the
// flips of every matched path, boundary paths included.
//
// Each defect i gets its own boundary copy B_i: i-B_j costs i's cheapest
// path out through a boundary qubit (for every j, so the copies are
// interchangeable and the graph is complete), B_i-B_j costs 0. On that
// complete graph of 2 x defects vertices the engine's best matching is
// perfect, so any number of defects may leave through the boundary.
#pragma once

#include <cstdint>
#include <span>

namespace vornex {

class SparseBlossomDecoder;

// Writes the correction of `syndrome` into `correction` (zeroed first).
// entry_costs holds one cost per neighbour entry of the decoder;
// boundary_costs one cost per check for leaving through its boundary qubit.
// The caller verifies the result.
void sparse_weighted_decode(const SparseBlossomDecoder& decoder, std::span<const uint8_t> syndrome,
                            std::span<uint8_t> correction, std::span<const uint32_t> entry_costs,
                            std::span<const uint32_t> boundary_costs);

}  // namespace vornex
