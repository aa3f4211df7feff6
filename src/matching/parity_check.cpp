#include "matching/parity_check.h"

#include <algorithm>
#include <utility>

#include "matching/graphlike_gf2.h"

namespace vornex {

bool correction_satisfies(const CheckList& check_to_qubits, size_t n_qubits, std::span<const uint8_t> syndrome,
                          std::span<const uint8_t> correction) {
    for (size_t c = 0; c < check_to_qubits.size(); ++c) {
        uint8_t parity = 0;
        for (uint32_t q : check_to_qubits[c]) {
            if (q < n_qubits) parity ^= correction[q];
        }
        if (parity != syndrome[c]) return false;
    }
    return true;
}

std::optional<std::vector<uint8_t>> solve_gf2(const CheckList& check_to_qubits, size_t n_qubits,
                                              std::span<const uint8_t> syndrome) {
    GraphlikeSolve graphlike = solve_gf2_graphlike(check_to_qubits, n_qubits, syndrome);
    if (graphlike.graphlike) return std::move(graphlike.x);
    return solve_gf2_dense(check_to_qubits, n_qubits, syndrome);
}

std::optional<std::vector<uint8_t>> solve_gf2_dense(const CheckList& check_to_qubits, size_t n_qubits,
                                                    std::span<const uint8_t> syndrome) {
    // One row per check, n_qubits + 1 bits: the qubits, then the syndrome bit.
    const size_t words = n_qubits / 64 + 1;
    const size_t rows = check_to_qubits.size();
    std::vector<uint64_t> m(rows * words, 0);
    const auto flip = [&](size_t r, size_t bit) { m[r * words + bit / 64] ^= uint64_t{1} << (bit % 64); };
    const auto test = [&](size_t r, size_t bit) { return (m[r * words + bit / 64] >> (bit % 64)) & 1; };
    for (size_t c = 0; c < rows; ++c) {
        for (uint32_t q : check_to_qubits[c]) {
            if (q < n_qubits) flip(c, q);
        }
        if (syndrome[c] & 1) flip(c, n_qubits);
    }
    std::vector<size_t> pivot_row(n_qubits, rows);
    size_t next = 0;
    for (size_t q = 0; q < n_qubits && next < rows; ++q) {
        size_t r = next;
        while (r < rows && !test(r, q)) ++r;
        if (r == rows) continue;
        if (r != next) std::swap_ranges(m.begin() + r * words, m.begin() + (r + 1) * words, m.begin() + next * words);
        const uint64_t* pivot = &m[next * words];
        for (size_t o = 0; o < rows; ++o) {
            if (o == next || !test(o, q)) continue;
            uint64_t* row = &m[o * words];
            for (size_t w = q / 64; w < words; ++w) row[w] ^= pivot[w];
        }
        pivot_row[q] = next++;
    }
    for (size_t r = next; r < rows; ++r) {
        if (test(r, n_qubits)) return std::nullopt;
    }
    std::vector<uint8_t> x(n_qubits, 0);
    for (size_t q = 0; q < n_qubits; ++q) {
        if (pivot_row[q] < rows) x[q] = static_cast<uint8_t>(test(pivot_row[q], n_qubits));
    }
    return x;
}

}  // namespace vornex
