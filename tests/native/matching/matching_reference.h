// Plain references for the matching tests: random graph generation and an
// exhaustive maximum-weight matching over the engine's transformed weights.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "base/wyrand.h"
#include "matching/dense/mwpm.h"

namespace vornex::testing {

// Random general graph: each pair present with probability `density`,
// plus a few repeated pairs and self-loops, weights in 0..max_weight.
inline std::vector<MatchingEdge> random_graph(Wyrand& rng, size_t n, double density, int64_t max_weight) {
    std::vector<MatchingEdge> edges;
    const auto weight = [&] { return static_cast<int64_t>(rng.next_u64() % static_cast<uint64_t>(max_weight + 1)); };
    for (size_t u = 0; u < n; ++u) {
        for (size_t v = u + 1; v < n; ++v) {
            if (rng.next_unit() < density) {
                const bool flip = rng.next_u64() & 1;
                edges.push_back({flip ? v : u, flip ? u : v, weight()});
            }
        }
    }
    if (n > 0) {
        const size_t extra = rng.next_u64() % (n + 1);
        for (size_t k = 0; k < extra; ++k) {
            const uint64_t u = rng.next_u64() % n;
            const uint64_t v = (rng.next_u64() % 4 == 0) ? u : rng.next_u64() % n;
            edges.push_back({u, v, weight()});
        }
    }
    for (size_t i = edges.size(); i > 1; --i) std::swap(edges[i - 1], edges[rng.next_u64() % i]);
    return edges;
}

// Effective transformed weight per pair (0 = no edge): C - weight, where a
// later parallel edge replaces an earlier one and self-loops never count.
inline std::vector<int64_t> transformed_matrix(size_t n, const std::vector<MatchingEdge>& edges) {
    int64_t top = 0;
    const auto clamp = [](int64_t w) { return std::clamp(w, -kMatchingWeightLimit, kMatchingWeightLimit); };
    for (const auto& e : edges) top = std::max(top, clamp(e.weight));
    std::vector<int64_t> w(n * n, 0);
    for (const auto& e : edges) {
        if (e.u == e.v || e.u >= n || e.v >= n) continue;
        w[e.u * n + e.v] = w[e.v * n + e.u] = top + 1 - clamp(e.weight);
    }
    return w;
}

inline int64_t transformed_weight(size_t n, const std::vector<MatchingEdge>& edges, const std::vector<int64_t>& partner) {
    const auto w = transformed_matrix(n, edges);
    int64_t total = 0;
    for (size_t i = 0; i < n; ++i) {
        if (partner[i] > static_cast<int64_t>(i)) {
            const int64_t x = w[i * n + static_cast<size_t>(partner[i])];
            if (x == 0) return std::numeric_limits<int64_t>::min();  // matched along a missing edge
            total += x;
        }
    }
    return total;
}

// Exhaustive search over subsets: the lowest free vertex is either left
// alone or matched to each neighbour in turn. Fine up to ~16 vertices.
inline int64_t best_transformed_weight(size_t n, const std::vector<MatchingEdge>& edges) {
    const auto w = transformed_matrix(n, edges);
    std::vector<int64_t> best(size_t{1} << n, 0);
    for (size_t mask = 1; mask < best.size(); ++mask) {
        const size_t i = static_cast<size_t>(__builtin_ctzll(mask));
        const size_t rest = mask & ~(size_t{1} << i);
        int64_t b = best[rest];
        for (size_t j = i + 1; j < n; ++j) {
            if ((rest >> j & 1) && w[i * n + j] > 0) b = std::max(b, w[i * n + j] + best[rest & ~(size_t{1} << j)]);
        }
        best[mask] = b;
    }
    return best.back();
}

}  // namespace vornex::testing
