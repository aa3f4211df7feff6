// Syndrome verification and the exact GF(2) solve that the matching
// decoders fall back on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "code/check_graph.h"

namespace vornex {

// True when, for every check, the XOR of the correction over its qubits
// below n_qubits equals the check's syndrome byte.
bool correction_satisfies(const CheckList& check_to_qubits, size_t n_qubits, std::span<const uint8_t> syndrome,
                          std::span<const uint8_t> correction);

// Gauss-Jordan solve of H x = s over GF(2), s being the syndrome bytes mod 2
// and free columns set to 0; nullopt when the system is inconsistent. Codes
// whose qubits lie in at most two checks get the same answer from a forest
// walk in linear memory (graphlike_gf2.h), others the dense elimination.
std::optional<std::vector<uint8_t>> solve_gf2(const CheckList& check_to_qubits, size_t n_qubits,
                                              std::span<const uint8_t> syndrome);

// The dense elimination alone: one bit row of n_qubits + 1 bits per check.
std::optional<std::vector<uint8_t>> solve_gf2_dense(const CheckList& check_to_qubits, size_t n_qubits,
                                                    std::span<const uint8_t> syndrome);

}  // namespace vornex
