// Plain references for the sparse matching tests: random detector graphs
// with boundaries, all-pairs shortest paths, and exact minimum-weight
// perfect matchings of the events on their complete distance graph (subset
// dynamic programming for few events, the dense blossom engine for more).
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "base/wyrand.h"
#include "common/best_pairing.h"
#include "matching/dense/mwpm.h"
#include "matching/sparse/matching_graph.h"

namespace vornex::testing {

using sparse::GraphEdge;
using sparse::kBoundary;
using sparse::ObsMask;

inline constexpr int64_t kUnreachable = std::numeric_limits<int64_t>::max() / 4;

// A random graph in `parts` disconnected pieces. Observables come from a
// random mask per node (an edge carries the XOR of its ends, a boundary edge
// also the boundary's mask), so every path between two nodes has the same
// parity and the engine's parities can be checked exactly.
struct RandomGraph {
    uint32_t n = 0;
    std::vector<GraphEdge> edges;
    std::vector<ObsMask> potential;  // per node, plus the boundary's last
};

inline RandomGraph random_detector_graph(Wyrand& rng, uint32_t n, double density, int64_t max_weight,
                                         double boundary_chance, uint32_t parts) {
    RandomGraph g;
    g.n = n;
    for (uint32_t i = 0; i <= n; ++i) g.potential.push_back(rng.next_u64() & 0xFF);
    const auto weight = [&] { return static_cast<int64_t>(rng.next_u64() % static_cast<uint64_t>(max_weight + 1)); };
    const auto part = [&](uint32_t v) { return v % std::max<uint32_t>(parts, 1); };
    for (uint32_t u = 0; u < n; ++u) {
        // A path through each part keeps it connected; extra chords add cycles.
        for (uint32_t v = u + 1; v < n; ++v) {
            if (part(u) != part(v)) continue;
            const bool chain = v == u + std::max<uint32_t>(parts, 1);
            if (chain || rng.next_unit() < density) {
                g.edges.push_back({u, v, weight(), g.potential[u] ^ g.potential[v], static_cast<uint32_t>(g.edges.size())});
            }
        }
        if (rng.next_unit() < boundary_chance) {
            g.edges.push_back({u, kBoundary, weight(), g.potential[u] ^ g.potential[n], static_cast<uint32_t>(g.edges.size())});
        }
    }
    // Parallel edges and self-loops.
    const size_t extra = n ? rng.next_u64() % (n / 2 + 1) : 0;
    for (size_t k = 0; k < extra && !g.edges.empty(); ++k) {
        GraphEdge e = g.edges[rng.next_u64() % g.edges.size()];
        e.weight = weight();
        e.id = static_cast<uint32_t>(g.edges.size());
        g.edges.push_back(e);
        const uint32_t s = static_cast<uint32_t>(rng.next_u64() % n);
        g.edges.push_back({s, s, weight(), 0, static_cast<uint32_t>(g.edges.size())});
    }
    return g;
}

// Shortest distances, node n standing for the boundary.
inline std::vector<int64_t> all_pairs(const RandomGraph& g) {
    const size_t m = size_t{g.n} + 1;
    std::vector<int64_t> d(m * m, kUnreachable);
    for (size_t i = 0; i < m; ++i) d[i * m + i] = 0;
    for (const auto& e : g.edges) {
        const size_t v = e.v == kBoundary ? g.n : e.v;
        d[e.u * m + v] = std::min(d[e.u * m + v], e.weight);
        d[v * m + e.u] = std::min(d[v * m + e.u], e.weight);
    }
    for (size_t k = 0; k < m; ++k)
        for (size_t i = 0; i < m; ++i)
            for (size_t j = 0; j < m; ++j)
                if (d[i * m + k] + d[k * m + j] < d[i * m + j]) d[i * m + j] = d[i * m + k] + d[k * m + j];
    return d;
}

// Exact minimum weight over subsets; nullopt when no perfect matching exists.
inline std::optional<int64_t> best_matching_by_subsets(const std::vector<int64_t>& d, uint32_t n,
                                                       const std::vector<uint32_t>& events) {
    const size_t m = size_t{n} + 1;
    const int64_t best = best_pairing_by_subsets(
        events.size(), [&](size_t i, size_t j) { return d[events[i] * m + events[j]]; },
        [&](size_t i) { return d[events[i] * m + n]; }, kUnreachable);
    if (best >= kUnreachable) return std::nullopt;
    return best;
}

// Exact minimum weight through the dense engine: each event gets a boundary
// copy, copies pair freely at cost 0, unreachable pairs cost a prohibitive
// constant that a perfect matching never needs.
inline std::optional<int64_t> best_matching_by_dense_engine(const std::vector<int64_t>& d, uint32_t n,
                                                            const std::vector<uint32_t>& events) {
    const size_t m = size_t{n} + 1;
    const size_t k = events.size();
    int64_t finite_total = 1;
    for (size_t i = 0; i < m * m; ++i)
        if (d[i] < kUnreachable) finite_total += d[i];
    const int64_t prohibitive = finite_total * int64_t(k + 1);
    const auto cost = [&](int64_t x) { return x >= kUnreachable ? prohibitive : x; };
    std::vector<MatchingEdge> edges;
    for (size_t i = 0; i < k; ++i) {
        for (size_t j = i + 1; j < k; ++j) {
            edges.push_back({i, j, cost(d[events[i] * m + events[j]])});
            edges.push_back({k + i, k + j, 0});
        }
        edges.push_back({i, k + i, cost(d[events[i] * m + n])});
    }
    const std::vector<int64_t> partner = mwpm_match(2 * k, edges);
    int64_t total = 0;
    for (size_t i = 0; i < k; ++i) {
        const auto p = static_cast<size_t>(partner[i]);
        if (partner[i] < 0) return std::nullopt;
        const int64_t c = p >= k ? cost(d[events[i] * m + n]) : (p > i ? cost(d[events[i] * m + events[p]]) : 0);
        if (c >= prohibitive) return std::nullopt;
        total += c;
    }
    return total;
}

}  // namespace vornex::testing
