// Batch decoder that collects one result vector per shot from an
// index-parallel loop and concatenates them in index order.
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

class BatchDecoder : public OnCheckGraph<BatchDecoder> {
public:
    using OnCheckGraph::OnCheckGraph;

    // Shape already checked: syndromes holds n_shots * n_checks bytes.
    // Returns n_shots * n_qubits bytes, row i decoding syndrome row i.
    std::vector<uint8_t> parallel_batch_decode(std::span<const uint8_t> syndromes, size_t n_shots) const;
};

}  // namespace vornex
