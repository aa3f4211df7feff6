#include "matching/sparse_weighted_decode.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <utility>
#include <vector>

#include "base/grow.h"
#include "base/thread_scratch.h"
#include "matching/defect_marks.h"
#include "matching/dense/mwpm.h"
#include "matching/sparse_blossom.h"

namespace vornex {
namespace {

// Cost of a pair with no path: far above any real path, so such a pair is
// chosen only when nothing else matches (and then verification fails).
constexpr int64_t kNoPathCost = int64_t{1} << 40;

// Scratch of one weighted decode on one thread; every buffer only grows.
struct WeightedScratch {
    bool busy = false;
    std::vector<uint32_t> reached;       // search stamp per check: distance valid
    std::vector<uint32_t> settled;       // search stamp per check: distance final
    uint32_t stamp = 0;
    std::vector<uint64_t> distance;      // per check, from the search source
    std::vector<uint32_t> parent;        // per check: previous check on the path
    std::vector<uint32_t> parent_qubit;  // per check: qubit of the edge from parent
    std::vector<std::pair<uint64_t, uint32_t>> heap;  // (distance, check), min-heap
    std::vector<uint32_t> defects;       // checks with a syndrome bit, ascending
    std::vector<int32_t> defect_of_check;  // -1 everywhere outside a decode
    std::vector<int64_t> pair_cost;      // defects x defects, row-major
    std::vector<int64_t> boundary_cost;  // per defect: cheapest way out
    std::vector<uint32_t> exit_check;    // per defect: the boundary check of that way
    std::vector<MatchingEdge> edges;
    std::vector<int64_t> partner;

    void prepare(size_t n_checks) {
        grow_to(n_checks, reached, settled, distance, parent, parent_qubit);
        grow_filled(n_checks, -1, defect_of_check);
    }

    uint32_t next_stamp() {
        if (++stamp == 0) {
            std::fill(reached.begin(), reached.end(), 0);
            std::fill(settled.begin(), settled.end(), 0);
            stamp = 1;
        }
        return stamp;
    }
};

class WeightedDecode {
public:
    WeightedDecode(const SparseBlossomDecoder& dec, std::span<const uint32_t> entry_costs,
                   std::span<const uint32_t> boundary_costs, WeightedScratch& s)
        : dec_(dec), entry_costs_(entry_costs), boundary_costs_(boundary_costs), s_(s) {}

    void run(std::span<const uint8_t> syndrome, std::span<uint8_t> out) {
        std::fill(out.begin(), out.end(), 0);
        s_.prepare(dec_.n_checks());
        s_.defects.clear();
        for (size_t c = 0; c < dec_.n_checks(); ++c)
            if (syndrome[c] == 1) s_.defects.push_back(static_cast<uint32_t>(c));
        if (s_.defects.empty()) return;
        const DefectMarks marks(s_.defects, s_.defect_of_check);
        measure();
        match();
        flip(out);
    }

private:
    const SparseBlossomDecoder& dec_;
    std::span<const uint32_t> entry_costs_;
    std::span<const uint32_t> boundary_costs_;
    WeightedScratch& s_;

    uint64_t exit_cost(uint32_t check) const {
        return dec_.boundary_qubit(check) == kNoIndex ? std::numeric_limits<uint64_t>::max()
                                                      : boundary_costs_[check];
    }

    // Dijkstra from `source`; visit(check, distance) on each settled check,
    // stopping when it returns true.
    template <class Visit>
    void search(uint32_t source, Visit&& visit) {
        const uint32_t mark = s_.next_stamp();
        auto& heap = s_.heap;
        heap.clear();
        s_.reached[source] = mark;
        s_.distance[source] = 0;
        s_.parent[source] = kNoIndex;
        heap.emplace_back(0, source);
        const auto later = std::greater<>();
        while (!heap.empty()) {
            std::pop_heap(heap.begin(), heap.end(), later);
            const auto [dist, u] = heap.back();
            heap.pop_back();
            if (s_.settled[u] == mark) continue;
            s_.settled[u] = mark;
            if (visit(u, dist)) return;
            for (const SparseNeighbour& n : dec_.neighbours_of(u)) {
                if (s_.settled[n.check] == mark) continue;
                const uint64_t next = dist + entry_costs_[static_cast<size_t>(&n - dec_.all_neighbours().data())];
                if (s_.reached[n.check] == mark && s_.distance[n.check] <= next) continue;
                s_.reached[n.check] = mark;
                s_.distance[n.check] = next;
                s_.parent[n.check] = u;
                s_.parent_qubit[n.check] = n.qubit;
                heap.emplace_back(next, n.check);
                std::push_heap(heap.begin(), heap.end(), later);
            }
        }
    }

    // One search per defect gives its distances to the later defects and
    // its cheapest exit; it stops once nothing closer can change either.
    void measure() {
        const size_t d = s_.defects.size();
        s_.pair_cost.assign(d * d, kNoPathCost);
        s_.boundary_cost.assign(d, kNoPathCost);
        s_.exit_check.assign(d, kNoIndex);
        for (size_t i = 0; i < d; ++i) {
            size_t left = d - 1 - i;
            uint64_t best_exit = std::numeric_limits<uint64_t>::max();
            search(s_.defects[i], [&](uint32_t u, uint64_t dist) {
                if (left == 0 && dist >= best_exit) return true;
                const int32_t j = s_.defect_of_check[u];
                if (j > static_cast<int32_t>(i)) {
                    s_.pair_cost[i * d + static_cast<size_t>(j)] = static_cast<int64_t>(std::min<uint64_t>(dist, kNoPathCost));
                    --left;
                }
                const uint64_t out = exit_cost(u);
                if (out != std::numeric_limits<uint64_t>::max() && dist + out < best_exit) {
                    best_exit = dist + out;
                    s_.exit_check[i] = u;
                }
                return false;
            });
            if (s_.exit_check[i] != kNoIndex)
                s_.boundary_cost[i] = static_cast<int64_t>(std::min<uint64_t>(best_exit, kNoPathCost));
        }
    }

    void match() {
        const size_t d = s_.defects.size();
        auto& edges = s_.edges;
        edges.clear();
        for (size_t i = 0; i < d; ++i) {
            for (size_t j = i + 1; j < d; ++j) edges.push_back({i, j, s_.pair_cost[i * d + j]});
            for (size_t j = 0; j < d; ++j) edges.push_back({i, d + j, s_.boundary_cost[i]});
            for (size_t j = i + 1; j < d; ++j) edges.push_back({d + i, d + j, 0});
        }
        s_.partner.assign(2 * d, -1);
        mwpm_match_into(2 * d, edges, s_.partner);
    }

    void flip(std::span<uint8_t> out) {
        const size_t d = s_.defects.size();
        for (size_t i = 0; i < d; ++i) {
            const int64_t p = s_.partner[i];
            if (p < 0) continue;
            if (static_cast<size_t>(p) >= d) {
                const uint32_t exit = s_.exit_check[i];
                if (exit == kNoIndex) continue;
                if (flip_path(s_.defects[i], exit, out)) flip_qubit(dec_.boundary_qubit(exit), out);
            } else if (static_cast<size_t>(p) > i) {
                flip_path(s_.defects[i], s_.defects[static_cast<size_t>(p)], out);
            }
        }
    }

    bool flip_path(uint32_t from, uint32_t to, std::span<uint8_t> out) {
        bool reached = false;
        search(from, [&](uint32_t u, uint64_t) { return reached = (u == to); });
        if (!reached) return false;
        for (uint32_t u = to; u != from; u = s_.parent[u]) flip_qubit(s_.parent_qubit[u], out);
        return true;
    }

    static void flip_qubit(uint32_t q, std::span<uint8_t> out) {
        if (q < out.size()) out[q] ^= 1;
    }
};

}  // namespace

void sparse_weighted_decode(const SparseBlossomDecoder& decoder, std::span<const uint8_t> syndrome,
                            std::span<uint8_t> correction, std::span<const uint32_t> entry_costs,
                            std::span<const uint32_t> boundary_costs) {
    ScratchLease<WeightedScratch> lease;
    WeightedDecode(decoder, entry_costs, boundary_costs, lease.get()).run(syndrome, correction);
}

}  // namespace vornex
