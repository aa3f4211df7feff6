// Batch decoder that collects one result vector per shot from an
// index-parallel loop and concatenates them in index order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "code/check_graph.h"
#include "code/result.h"

namespace vornex {

class BatchDecoder {
public:
    static Result<BatchDecoder> create(CheckList check_to_qubits, std::optional<size_t> n_qubits);

    explicit BatchDecoder(CheckGraph graph) : graph_(std::move(graph)) {}

    const CheckGraph& graph() const { return graph_; }
    size_t n_qubits() const { return graph_.n_qubits; }
    size_t n_checks() const { return graph_.n_checks; }

    // Shape already checked: syndromes holds n_shots * n_checks bytes.
    // Returns n_shots * n_qubits bytes, row i decoding syndrome row i.
    std::vector<uint8_t> parallel_batch_decode(std::span<const uint8_t> syndromes, size_t n_shots) const;

private:
    CheckGraph graph_;
};

}  // namespace vornex
