// Union-Find decoding core (Delfosse-Nickerson): synchronous cluster growth on
// the check graph in half-edge steps, merging by rank, then peeling a
// breadth-first spanning forest of the grown clusters.
//
// Every order and tie-break here is part of the contract: the batch drivers,
// the C interface, the table and stream decoders, the matching fallback and
// the GPU kernel must all return these exact bytes.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "code/check_graph.h"

namespace vornex {

// Scratch arrays of one decode. They only grow, and every entry a decode
// reads is written by that decode first, so one workspace serves any number
// of decodes on graphs of any size without clearing.
struct UfWorkspace {
    // Per node (N = n_checks + 1, the boundary last), reset at the start of
    // every decode and valid through growth:
    std::vector<uint32_t> parent;   // union-find parent; a root is its own parent
    std::vector<uint8_t> rnk;       // union-by-rank rank, meaningful at roots only
    std::vector<uint8_t> parity;    // at a root: odd number of defects in its cluster
    std::vector<uint8_t> has_bnd;   // at a root: the cluster holds the boundary node
    // Per edge (E, in graph edge order): growth in half-edges, 0..2; 2 is
    // fully grown. Zeroed per decode; final once growth ends.
    std::vector<uint8_t> support;
    // Per node: the defect still to be pushed up the peeling forest; written
    // from the syndrome when peeling starts.
    std::vector<uint8_t> node_par;
    // Compressed adjacency of the fully grown edges, built after growth:
    std::vector<uint32_t> off;      // N + 1 offsets into adj_to/adj_q per node
    std::vector<uint32_t> cursor;   // per node: next free slot while filling
    std::vector<uint32_t> adj_to;   // 2E: neighbour of each slot; during growth it
                                    // holds the edges that filled up in the round
    std::vector<uint32_t> adj_q;    // 2E: qubit of each slot's edge
    // Per node: during growth the round's activity flags (odd cluster without
    // boundary), then the forest search's visited marks.
    std::vector<uint8_t> visited;
    // Peeling forest, valid after the forest search:
    std::vector<uint32_t> tparent;  // per node: tree parent; a tree root is its own
    std::vector<uint32_t> tqubit;   // per node: qubit of the edge to tparent, or none at a root
    std::vector<uint32_t> order;    // N: nodes in breadth-first order, doubling as the queue
    // Unused: kept at N entries so every workspace keeps its layout; the
    // forest search queues in `order`.
    std::vector<uint32_t> queue;
};
// Decodes one syndrome into `correction`. Preconditions, checked by every
// caller: syndrome.size() == graph.n_checks, correction.size() == graph.n_qubits.
void decode_into(const CheckGraph& graph, std::span<const uint8_t> syndrome, UfWorkspace& workspace,
                 std::span<uint8_t> correction);

// decode_into with scratch of the calling thread's own: the same bytes as a
// fresh workspace (a decode writes every entry it reads), without growing
// fifteen arrays per shot. Same preconditions as decode_into.
void decode_with_scratch(const CheckGraph& graph, std::span<const uint8_t> syndrome, std::span<uint8_t> correction);

// Allocating form: a new zeroed correction of n_qubits bytes.
std::vector<uint8_t> decode(const CheckGraph& graph, std::span<const uint8_t> syndrome);

}  // namespace vornex
