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
    std::vector<uint32_t> parent;
    std::vector<uint8_t> rnk;
    std::vector<uint8_t> parity;
    std::vector<uint8_t> has_bnd;
    std::vector<uint8_t> support;
    std::vector<uint8_t> node_par;
    std::vector<uint32_t> off;
    std::vector<uint32_t> cursor;
    std::vector<uint32_t> adj_to;
    std::vector<uint32_t> adj_q;
    std::vector<uint8_t> visited;
    std::vector<uint32_t> tparent;
    std::vector<uint32_t> tqubit;
    std::vector<uint32_t> order;
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
