// Maximum-weight matching in general graphs: Edmonds' blossom algorithm with
// primal-dual updates, in the dense O(N^3) array form (Gabow's layout with
// per-vertex slack and nested blossoms kept as explicit cycles).
//
// Callers give minimum-weight style inputs (non-negative distances, scaled
// to integers); the engine matches on C - weight with C = max weight + 1, so
// every edge is worth at least 1 and, on a complete graph, the best matching
// is perfect and of minimum total weight.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vornex {

// One undirected edge of the input graph; vertices are 0-based.
struct MatchingEdge {
    uint64_t u;
    uint64_t v;
    int64_t weight;
};

// Weights are clamped to +-2^55 so that C - weight and the doubled duals stay
// far from 64-bit overflow; real inputs (scaled path lengths) never get near.
inline constexpr int64_t kMatchingWeightLimit = int64_t{1} << 55;

// Maximum-weight matching of n vertices on the transformed weights.
// partner[i] is the vertex matched to i, or -1. Edges with an endpoint >= n
// and self-loops are ignored. Uses the calling thread's reusable workspace.
std::vector<int64_t> mwpm_match(size_t n, std::span<const MatchingEdge> edges);

// Same, writing into a caller buffer of exactly n entries.
void mwpm_match_into(size_t n, std::span<const MatchingEdge> edges, std::span<int64_t> partner);

}  // namespace vornex
