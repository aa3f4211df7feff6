// Exact GF(2) solve of H x = s for codes whose every qubit lies in at most
// two checks (after repeats inside a check cancel), in time and memory
// linear in the code instead of the dense elimination's checks x qubits bits.
//
// Such an H is the incidence matrix of a graph on the checks plus one
// boundary node (a one-check qubit is an edge to the boundary), and linear
// independence of columns is acyclicity of their edges. So the pivot
// columns of a left-to-right Gauss-Jordan elimination are exactly the
// spanning forest Kruskal's rule keeps when it takes the qubits in index
// order, and its answer (pivots solved, free qubits 0) is the unique forest
// solution, found by peeling leaves: the edge above a node carries the
// syndrome parity of the subtree below it. A tree without the boundary
// must hold an even number of defects, else the system is inconsistent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "code/check_graph.h"

namespace vornex {

struct GraphlikeSolve {
    bool graphlike = false;                 // false: some qubit lies in three or more checks
    std::optional<std::vector<uint8_t>> x;  // nullopt when graphlike and inconsistent
};

// Same contract and same answer as solve_gf2 (parity_check.h) whenever
// graphlike comes back true: syndrome bytes taken mod 2, qubits at or
// above n_qubits ignored, free qubits 0.
GraphlikeSolve solve_gf2_graphlike(const CheckList& check_to_qubits, size_t n_qubits,
                                   std::span<const uint8_t> syndrome);

}  // namespace vornex
