// Union-Find decoding core (Delfosse-Nickerson): synchronous cluster growth on
// the check graph in half-edge steps, merging the clusters that meet, then
// peeling a breadth-first spanning forest of the fully grown edges.
//
// Every order and tie-break here is part of the contract: the batch drivers,
// the C interface, the table and stream decoders, the matching fallback and
// the GPU kernel must all return these exact bytes. The work of a decode
// follows its clusters (the defects and the edges growth reaches), not the
// size of the graph.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "code/check_graph.h"
#include "uf/cluster_growth.h"
#include "uf/cluster_peeling.h"
#include "uf/event_growth.h"
#include "uf/cluster_set.h"

namespace vornex {

// Scratch of one decode. It only grows, and a decode leaves it as clean as
// it found it (resetting just what it touched), so one workspace serves any
// number of decodes on graphs of any size.
struct UfWorkspace {
    ClusterSet clusters;
    GrowthScratch growth;
    PeelScratch peeling;
    EventScratch events;            // used by weighted growth only; empty until then
    std::vector<uint32_t> defects;  // fired checks of the syndrome being decoded, ascending
};

// Decodes one syndrome into `correction`. Preconditions, checked by every
// caller: syndrome.size() == graph.n_checks, correction.size() == graph.n_qubits,
// and the graph comes from build_check_graph (or had index_incidence called).
void decode_into(const CheckGraph& graph, std::span<const uint8_t> syndrome, UfWorkspace& workspace,
                 std::span<uint8_t> correction);

// decode_into with scratch of the calling thread's own: the same bytes as a
// fresh workspace, without growing new arrays per shot. Same preconditions.
void decode_with_scratch(const CheckGraph& graph, std::span<const uint8_t> syndrome, std::span<uint8_t> correction);

// Allocating form: a new zeroed correction of n_qubits bytes.
std::vector<uint8_t> decode(const CheckGraph& graph, std::span<const uint8_t> syndrome);

// Lists the fired checks (bit 0 of each byte) in ascending order, skipping
// eight quiet bytes at a time.
void list_defects(std::span<const uint8_t> syndrome, std::vector<uint32_t>& defects);

}  // namespace vornex
