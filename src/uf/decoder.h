// The reference Union-Find decoder: a check graph plus the core, with a
// single-shot decode and a row-parallel batch decode. Other decoders hold one
// of these and call its native operations directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "code/check_graph.h"
#include "code/result.h"
#include "code/shape.h"

namespace vornex {

// Decodes n_shots rows of graph.n_checks bytes into n_shots rows of
// graph.n_qubits bytes on the worker pool. Each piece of the split reuses one
// workspace; rows are independent, so the bytes never depend on the split.
void decode_rows(const CheckGraph& graph, const uint8_t* syndromes, size_t n_shots, uint8_t* corrections);

class UnionFindDecoder {
public:
    // Validates the code; the error is the check-graph text unchanged.
    static Result<UnionFindDecoder> create(CheckList check_to_qubits, std::optional<size_t> n_qubits);

    explicit UnionFindDecoder(CheckGraph graph) : graph_(std::move(graph)) {}

    const CheckGraph& graph() const { return graph_; }
    size_t n_qubits() const { return graph_.n_qubits; }
    size_t n_checks() const { return graph_.n_checks; }

    // Native decode for other decoders: a length mismatch is an internal
    // assertion (ErrorKind::Panic), not a user error.
    Result<std::vector<uint8_t>> decode(std::span<const uint8_t> syndrome) const;

    // User-facing length check of the Python decode.
    Status check_syndrome_length(size_t length) const;

    // Shape already checked: syndromes holds n_shots * n_checks bytes.
    std::vector<uint8_t> batch_decode(std::span<const uint8_t> syndromes, size_t n_shots) const;

private:
    CheckGraph graph_;
};

}  // namespace vornex
