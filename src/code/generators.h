// Ready-made code layouts from a single distance. Index formulas are fixed:
// decoders, benchmarks and stored results rely on them exactly.
#pragma once

#include <cstdint>

#include "code/check_graph.h"

namespace vornex {

struct GeneratedCode {
    CheckList checks;
    uint32_t n_qubits = 0;
};

// Grid layouts need d*d to fit 32 bits: distances above 65535 are rejected.
// A layout whose checks cannot be held in memory is refused with
// std::bad_alloc before any is built.

// Periodic d x d layout with 2*d*d weight-4 checks (two plaquette blocks).
Result<GeneratedCode> generate_surface_code(uint32_t distance);
// The first plaquette block of the surface layout, emitted twice.
Result<GeneratedCode> generate_toy_code(uint32_t distance);
// d*d qubits on a ring, check i = [i, i+1 mod d*d]; no boundary edge.
Result<GeneratedCode> generate_ring_code(uint32_t distance);
// Chain of d qubits with d-1 checks [i, i+1]; distance 0 gives ([], 0).
GeneratedCode generate_repetition_code(uint32_t distance);

}  // namespace vornex
