// The reference for every exact matching test: the least total cost of
// pairing a few items with each other or the boundary.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace vornex::testing {

// Dynamic programming over subsets (2^k states, so for small k only):
// `pair(i, j)` (i < j) and `boundary(i)` are the costs of the k items, and
// `cap` stands for "no way" (every subset's cost stays at or below it).
template <class Cost, class Pair, class Boundary>
Cost best_pairing_by_subsets(size_t k, Pair&& pair, Boundary&& boundary, Cost cap) {
    std::vector<Cost> best(size_t{1} << k, cap);
    best[0] = 0;
    for (size_t mask = 1; mask < best.size(); ++mask) {
        const size_t i = static_cast<size_t>(__builtin_ctzll(mask));
        const size_t rest = mask & ~(size_t{1} << i);
        Cost b = boundary(i) + best[rest];
        for (size_t j = i + 1; j < k; ++j)
            if (rest >> j & 1) b = std::min(b, pair(i, j) + best[rest & ~(size_t{1} << j)]);
        best[mask] = std::min(b, cap);
    }
    return best.back();
}

}  // namespace vornex::testing
