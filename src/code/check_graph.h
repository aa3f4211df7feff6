// Code description and the check graph that the Union-Find family decodes on.
//
// Nodes 0 .. n_checks-1 are the checks, node n_checks is the virtual boundary.
// Every qubit lying in exactly one or two check slots becomes one edge; edges
// are ordered by ascending qubit, and that order fixes every tie-break of the
// Union-Find core, so it must never change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "base/result.h"

namespace vornex {

// One parity check per entry, each naming the qubits it acts on.
using CheckList = std::vector<std::vector<uint32_t>>;

// Per-qubit weights of a weighted decoder built from check lists: one finite
// non-negative weight per qubit (ln((1 - p) / p), say), or none for unit weights.
using QubitWeights = std::optional<std::vector<double>>;

inline constexpr uint32_t kNoIndex = 0xFFFFFFFFu;

// A qubit seen as an edge between two nodes (b == n_checks for the boundary).
struct CheckEdge {
    uint32_t a;
    uint32_t b;
    uint32_t q;
};

struct CheckGraph {
    std::vector<CheckEdge> edges;
    size_t n_checks = 0;
    size_t n_qubits = 0;
    size_t n_nodes = 0;
    // Edges of each check in ascending edge order, a self-loop twice; the
    // run of check c is incident_edges[incidence_start[c] .. incidence_start[c+1]).
    // The boundary node's run is left empty: decoders never walk it, since a
    // cluster holding the boundary stops growing.
    std::vector<uint32_t> incidence_start;
    std::vector<uint32_t> incident_edges;
};

// Fills the incidence runs from `edges` (build_check_graph does this; a
// graph assembled by hand must call it before decoding).
void index_incidence(CheckGraph& graph);

// Validates a code description and builds its check graph, or returns the
// user-facing error text. n_qubits == nullopt derives it from the largest index.
Result<CheckGraph> build_check_graph(CheckList check_to_qubits, std::optional<size_t> n_qubits);

// The n_qubits a check list implies when none is given: one past its largest
// qubit index, or 1 when it lists no qubit at all.
size_t derived_n_qubits(const CheckList& check_to_qubits);

// Consecutive qubit pairs of each check; unrelated to the check graph.
std::vector<std::pair<uint32_t, uint32_t>> check_to_edges(const CheckList& check_to_qubits);

}  // namespace vornex
