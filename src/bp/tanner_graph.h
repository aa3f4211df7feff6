// Sparse parity-check matrix of a code, stored both ways round so belief
// propagation can walk a check's qubits and a qubit's checks as flat runs.
//
// Edge e is one (check, qubit) pair with a 1 in the matrix; edges are
// numbered check by check, so a check's messages are contiguous. A qubit
// listed more than once in a check is one edge (the matrix entry is 1), and
// indices >= n_qubits are left out, as the parity matrix of the defined
// BP-OSD decoder does. The defined decoder's min-sum also weighs each
// listing on its own; a graph built with RepeatedQubits::Counted keeps the
// count per edge for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/result.h"
#include "code/check_graph.h"

namespace vornex {

// How build_tanner_graph reads a qubit listed more than once in a check:
// as one edge (Once), or as one edge that remembers how often it was listed
// (Counted), for the defined BP-OSD preset.
enum class RepeatedQubits : uint8_t { Once, Counted };

struct TannerGraph {
    size_t n_checks = 0;
    size_t n_qubits = 0;
    // check_offsets[c] .. check_offsets[c + 1]: the edges of check c.
    std::vector<uint32_t> check_offsets;
    // Qubit of each edge, ascending within a check.
    std::vector<uint32_t> edge_qubit;
    // qubit_offsets[q] .. qubit_offsets[q + 1]: positions in qubit_edges.
    std::vector<uint32_t> qubit_offsets;
    // Edge ids of each qubit, in ascending check order.
    std::vector<uint32_t> qubit_edges;
    // Check of each entry of qubit_edges (saves a search in OSD and syndromes).
    std::vector<uint32_t> qubit_edge_check;
    // Largest number of edges of one check (sizes the product-sum scratch).
    size_t max_check_degree = 0;
    // Per edge: how often the check lists the qubit. Kept only by
    // RepeatedQubits::Counted and only when some count exceeds 1, so the
    // usual graph has none. The min-sum rule and the qubit sums read each
    // edge that many times; the product-sum rule reads it once.
    std::vector<uint32_t> edge_repeats;

    size_t n_edges() const { return edge_qubit.size(); }
};

// MemoryError text when BP on n_qubits declared columns would not fit in the
// memory budget: messages, priors and posteriors are per column, and a short
// check list can declare billions (Relay-BP takes about 40 bytes each).
Status check_qubit_budget(size_t n_qubits);

// Builds the graph of check_to_qubits over n_qubits columns. Fails when a
// size does not fit the 32-bit ids ("Code too large: ...") or n_qubits the
// memory budget (check_qubit_budget).
Result<TannerGraph> build_tanner_graph(const CheckList& check_to_qubits, size_t n_qubits,
                                       RepeatedQubits repeats = RepeatedQubits::Once);

// True when every check's parity over `error` (bit 0 of each byte) equals
// bit 0 of its syndrome byte.
bool explains_syndrome(const TannerGraph& graph, const uint8_t* error, const uint8_t* syndrome);

}  // namespace vornex
