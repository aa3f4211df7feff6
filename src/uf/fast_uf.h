// The fast-path Union-Find decoder: the same graph and core as
// UnionFindDecoder with its own error texts, plus the workspace-per-shot
// parallel batch routine. The C interface (vornex_uf.h) lives in this unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/result.h"
#include "code/check_graph.h"
#include "uf/on_check_graph.h"

namespace vornex {

class FastUnionFindDecoder : public OnCheckGraph<FastUnionFindDecoder> {
public:
    using OnCheckGraph::OnCheckGraph;

    // "Syndrome length mismatch: {} != {}" unless length == n_checks.
    Status check_syndrome_length(size_t length) const;

    // Length already checked.
    std::vector<uint8_t> decode(std::span<const uint8_t> syndrome) const;

    // Shape already checked: syndromes holds n_shots * n_checks bytes.
    std::vector<uint8_t> batch_decode(std::span<const uint8_t> syndromes, size_t n_shots) const;
};

// A fresh workspace for every shot (none is reused), shots decoded in
// parallel into `corrections` (n_shots * n_qubits bytes); each workspace is
// released as soon as its row is written.
void decode_batch_workspace_per_shot(const CheckGraph& graph, std::span<const uint8_t> syndromes,
                                     size_t n_shots, std::span<uint8_t> corrections);

}  // namespace vornex
