// Plain references and random errors for the matching decoder tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "base/wyrand.h"
#include "code/check_graph.h"
#include "common/best_pairing.h"
#include "common/codes.h"

namespace vornex::testing {

// Minimum total weight of any correction of the defect set, for codes whose
// qubits lie in at most two checks: all-pairs distances over checks plus a
// boundary node (Floyd-Warshall), then the best pairing of defects with each
// other or the boundary by exhaustive search over subsets.
inline double min_correction_weight(const CheckList& checks, size_t n_qubits, const std::vector<double>& w,
                                    const std::vector<uint8_t>& syndrome) {
    const size_t n = checks.size() + 1;
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> dist(n * n, inf);
    for (size_t i = 0; i < n; ++i) dist[i * n + i] = 0;
    std::vector<std::vector<size_t>> where(n_qubits);
    for (size_t c = 0; c < checks.size(); ++c)
        for (uint32_t q : checks[c]) where[q].push_back(c);
    for (size_t q = 0; q < n_qubits; ++q) {
        if (where[q].empty() || where[q].size() > 2) continue;
        const size_t a = where[q][0];
        const size_t b = where[q].size() == 2 ? where[q][1] : n - 1;
        dist[a * n + b] = dist[b * n + a] = std::min(dist[a * n + b], w[q]);
    }
    for (size_t k = 0; k < n; ++k)
        for (size_t i = 0; i < n; ++i)
            for (size_t j = 0; j < n; ++j) dist[i * n + j] = std::min(dist[i * n + j], dist[i * n + k] + dist[k * n + j]);
    std::vector<size_t> defects;
    for (size_t c = 0; c < syndrome.size(); ++c)
        if (syndrome[c]) defects.push_back(c);
    return best_pairing_by_subsets(
        defects.size(), [&](size_t i, size_t j) { return dist[defects[i] * n + defects[j]]; },
        [&](size_t i) { return dist[defects[i] * n + n - 1]; }, inf);
}

inline double weight_of(const std::vector<uint8_t>& correction, const std::vector<double>& w) {
    double total = 0;
    for (size_t q = 0; q < correction.size(); ++q)
        if (correction[q]) total += w[q];
    return total;
}

// Independent flips with probability p.
inline std::vector<uint8_t> random_error(Wyrand& rng, size_t n_qubits, double p) {
    std::vector<uint8_t> e(n_qubits);
    for (auto& b : e) b = rng.next_unit() < p;
    return e;
}

}  // namespace vornex::testing
