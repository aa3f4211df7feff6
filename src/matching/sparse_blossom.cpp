#include "matching/sparse_blossom.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <string>
#include <tuple>

#include "base/grow.h"
#include "base/memory_budget.h"
#include "base/shape.h"
#include "base/thread_scratch.h"
#include "base/worker_pool.h"
#include "matching/defect_marks.h"
#include "matching/dense/mwpm.h"
#include "matching/parity_check.h"
#include "matching/sparse_weighted_decode.h"

namespace vornex {
namespace {

constexpr uint64_t kBoundary = std::numeric_limits<uint64_t>::max();
const char* const kLengthPanic = "Syndrome length must match n_checks";

struct MatchEvent {
    uint64_t a;
    uint64_t b;
    uint32_t cost;
};

// Scratch of one decode on one thread; every buffer only grows.
struct SparseScratch {
    bool busy = false;                     // taken by a decode on this thread
    std::vector<uint32_t> seen;            // per check: stamp of the last search that reached it
    uint32_t stamp = 0;                    // the current search's stamp
    std::vector<uint32_t> cost;            // per check: path cost from the search's source
    std::vector<uint32_t> parent;          // per check: previous check on that path
    std::vector<uint32_t> parent_qubit;    // per check: qubit of the edge from its parent
    std::vector<uint32_t> queue;           // breadth-first queue of one search
    std::vector<uint32_t> defects;         // checks whose syndrome bit is set, ascending
    std::vector<int32_t> defect_of_check;  // per check: defect index, -1 everywhere outside a decode
    std::vector<int32_t> vertex_of_check;  // per check: matching vertex, -1 everywhere outside a decode
    std::vector<MatchEvent> events;        // candidate pairs and boundary matches with their costs
    std::vector<uint64_t> endpoint;        // per matching vertex: its check, or kBoundary
    std::vector<MatchingEdge> edges;       // the matching instance handed to the dense engine
    std::vector<int64_t> partner;          // per matching vertex: its partner in the solution

    void prepare(size_t n_checks) {
        grow_to(n_checks, seen, cost, parent, parent_qubit);
        grow_filled(n_checks, -1, defect_of_check, vertex_of_check);
    }

    // A fresh search mark; stamps are cleared on the rare wrap-around.
    uint32_t next_stamp() {
        if (++stamp == 0) {
            std::fill(seen.begin(), seen.end(), 0);
            stamp = 1;
        }
        return stamp;
    }
};

uint32_t add_saturating(uint32_t a, uint32_t b) {
    const uint64_t s = uint64_t{a} + b;
    return s > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(s);
}

class SparseDecode {
public:
    SparseDecode(const SparseBlossomDecoder& dec, std::span<const uint8_t> syndrome, std::span<uint8_t> out,
                 SparseScratch& s)
        : dec_(dec), syndrome_(syndrome), out_(out), s_(s) {}

    // Returns false when the correction does not reproduce the syndrome.
    bool run() {
        std::fill(out_.begin(), out_.end(), 0);
        s_.prepare(dec_.n_checks());
        s_.defects.clear();
        for (size_t c = 0; c < dec_.n_checks(); ++c)
            if (syndrome_[c] == 1) s_.defects.push_back(static_cast<uint32_t>(c));
        if (s_.defects.empty()) return true;
        Marks marks(s_);
        pair_events();
        boundary_events();
        std::stable_sort(s_.events.begin(), s_.events.end(),
                         [](const MatchEvent& x, const MatchEvent& y) { return x.cost < y.cost; });
        build_graph();
        flip_matched_pairs();
        return true;
    }

private:
    const SparseBlossomDecoder& dec_;
    std::span<const uint8_t> syndrome_;
    std::span<uint8_t> out_;
    SparseScratch& s_;

    // Keeps the per-check maps all -1 between decodes, even if a step throws.
    struct Marks {
        SparseScratch& s;
        DefectMarks defects;
        explicit Marks(SparseScratch& scratch) : s(scratch), defects(scratch.defects, scratch.defect_of_check) {}
        ~Marks() {
            for (uint64_t e : s.endpoint)
                if (e != kBoundary) s.vertex_of_check[e] = -1;
            s.endpoint.clear();
        }
    };

    // Breadth-first search from `source`; visit(node) after each dequeue,
    // stopping when it returns true. Costs add up along the tree found.
    template <class Visit>
    void bfs(uint32_t source, Visit&& visit) {
        const uint32_t mark = s_.next_stamp();
        s_.queue.clear();
        s_.seen[source] = mark;
        s_.cost[source] = 0;
        s_.parent[source] = kNoIndex;
        s_.parent_qubit[source] = kNoIndex;
        s_.queue.push_back(source);
        for (size_t head = 0; head < s_.queue.size(); ++head) {
            const uint32_t u = s_.queue[head];
            if (visit(u)) return;
            for (const SparseNeighbour& n : dec_.neighbours_of(u)) {
                if (s_.seen[n.check] == mark) continue;
                s_.seen[n.check] = mark;
                s_.cost[n.check] = add_saturating(s_.cost[u], n.cost);
                s_.parent[n.check] = u;
                s_.parent_qubit[n.check] = n.qubit;
                s_.queue.push_back(n.check);
            }
        }
    }

    // A cost is fixed when its check is first reached, so one search per
    // defect gives every later defect's pair cost at once.
    void pair_events() {
        s_.events.clear();
        const size_t d = s_.defects.size();
        for (size_t i = 0; i + 1 < d; ++i) {
            const uint32_t ci = s_.defects[i];
            size_t left = d - 1 - i;
            bfs(ci, [&](uint32_t u) {
                const int32_t j = s_.defect_of_check[u];
                if (j > static_cast<int32_t>(i)) return --left == 0;
                return false;
            });
            const uint32_t mark = s_.stamp;
            for (size_t j = i + 1; j < d; ++j) {
                const uint32_t cj = s_.defects[j];
                if (s_.seen[cj] == mark) s_.events.push_back({std::min(ci, cj), std::max(ci, cj), s_.cost[cj]});
            }
        }
    }

    void boundary_events() {
        for (uint32_t c : s_.defects) s_.events.push_back({c, kBoundary, 1});
    }

    uint32_t vertex(uint64_t endpoint, int32_t& boundary_vertex) {
        int32_t& v = endpoint == kBoundary ? boundary_vertex : s_.vertex_of_check[endpoint];
        if (v < 0) {
            v = static_cast<int32_t>(s_.endpoint.size());
            s_.endpoint.push_back(endpoint);
        }
        return static_cast<uint32_t>(v);
    }

    void build_graph() {
        auto& edges = s_.edges;
        edges.clear();
        s_.endpoint.clear();
        int32_t boundary_vertex = -1;
        uint32_t max_cost = 0;
        for (const MatchEvent& e : s_.events) {
            const uint32_t a = vertex(e.a, boundary_vertex);
            const uint32_t b = vertex(e.b, boundary_vertex);
            max_cost = std::max(max_cost, e.cost);
            if (a != b) edges.push_back({std::min(a, b), std::max(a, b), static_cast<int64_t>(e.cost)});
        }
        const size_t l = s_.endpoint.size();
        if (l % 2 == 1) {
            for (size_t k = 0; k < l; ++k) edges.push_back({k, l, int64_t{max_cost} + 1});
        }
        std::sort(edges.begin(), edges.end(), [](const MatchingEdge& x, const MatchingEdge& y) {
            return std::tie(x.u, x.v, x.weight) < std::tie(y.u, y.v, y.weight);
        });
        edges.erase(std::unique(edges.begin(), edges.end(),
                                [](const MatchingEdge& x, const MatchingEdge& y) { return x.u == y.u && x.v == y.v; }),
                    edges.end());
        s_.partner.assign(l + l % 2, -1);
        mwpm_match_into(s_.partner.size(), edges, s_.partner);
    }

    void flip_matched_pairs() {
        const size_t l = s_.endpoint.size();
        for (size_t k = 0; k < l; ++k) {
            const int64_t p = s_.partner[k];
            if (p <= static_cast<int64_t>(k) || static_cast<size_t>(p) >= l) continue;
            const uint64_t x = s_.endpoint[k];
            const uint64_t y = s_.endpoint[static_cast<size_t>(p)];
            if (x == y || x == kBoundary || y == kBoundary) continue;
            flip_path(static_cast<uint32_t>(x), static_cast<uint32_t>(y));
        }
    }

    void flip_path(uint32_t x, uint32_t y) {
        bool reached = false;
        bfs(x, [&](uint32_t u) { return reached = (u == y); });
        if (!reached) return;
        for (uint32_t u = y; u != x; u = s_.parent[u]) {
            const uint32_t q = s_.parent_qubit[u];
            if (q < out_.size()) out_[q] ^= 1;
        }
    }
};

}  // namespace

uint32_t sparse_edge_cost(double w) {
    if (!(w > 0)) return kSparseMaxCost;
    const double c = std::floor(std::min(1000.0 / w, 4294967295.0));
    if (c == 0) return 1;
    if (c > kSparseMaxCost) return kSparseMaxCost;
    return static_cast<uint32_t>(c);
}

Result<SparseBlossomDecoder> SparseBlossomDecoder::create(CheckList check_to_qubits, std::optional<size_t> n_qubits) {
    // Measured on a build and first decode: about 23 bytes per declared qubit.
    if (auto fits = check_declared_qubits(n_qubits.value_or(derived_n_qubits(check_to_qubits)),
                                          "a sparse blossom decoder", 24);
        !fits)
        return fits.error();
    SparseBlossomDecoder d;
    d.n_checks_ = check_to_qubits.size();
    // (qubit, check) pairs grouped by qubit; indices of any size take part,
    // so no table is sized by the largest index.
    std::vector<std::pair<uint32_t, uint32_t>> slots;
    for (size_t c = 0; c < d.n_checks_; ++c)
        for (uint32_t q : check_to_qubits[c]) slots.emplace_back(q, static_cast<uint32_t>(c));
    std::stable_sort(slots.begin(), slots.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });
    if (n_qubits) {
        d.n_qubits_ = *n_qubits;
    } else {
        d.n_qubits_ = slots.empty() ? 1 : size_t{slots.back().first} + 1;
    }
    std::vector<std::vector<SparseNeighbour>> runs(d.n_checks_);
    d.is_boundary_check_.assign(d.n_checks_, 0);
    d.boundary_qubit_.assign(d.n_checks_, kNoIndex);
    for (size_t g = 0; g < slots.size();) {
        size_t end = g;
        while (end < slots.size() && slots[end].first == slots[g].first) ++end;
        const uint32_t q = slots[g].first;
        const bool single = std::all_of(slots.begin() + static_cast<std::ptrdiff_t>(g),
                                        slots.begin() + static_cast<std::ptrdiff_t>(end),
                                        [&](const auto& s) { return s.second == slots[g].second; });
        if (single) {
            d.is_boundary_check_[slots[g].second] = 1;
            uint32_t& exit = d.boundary_qubit_[slots[g].second];
            if (exit == kNoIndex && q < d.n_qubits_) exit = q;
        }
        for (size_t i = g; i < end; ++i) {
            for (size_t k = i + 1; k < end; ++k) {
                runs[slots[i].second].push_back({slots[k].second, 1, q});
                runs[slots[k].second].push_back({slots[i].second, 1, q});
            }
        }
        g = end;
    }
    d.neighbour_begin_.assign(d.n_checks_ + 1, 0);
    for (size_t c = 0; c < d.n_checks_; ++c)
        d.neighbour_begin_[c + 1] = d.neighbour_begin_[c] + static_cast<uint32_t>(runs[c].size());
    for (const auto& run : runs) d.neighbours_.insert(d.neighbours_.end(), run.begin(), run.end());
    d.inner_blossom_ = build_blossom_graph(check_to_qubits, d.n_qubits_, std::nullopt);
    d.check_to_qubits_ = std::move(check_to_qubits);
    return d;
}

Status SparseBlossomDecoder::verified(std::span<const uint8_t> syndrome, std::span<uint8_t> correction) const {
    if (correction_satisfies(check_to_qubits_, n_qubits_, syndrome, correction)) return ok_status();
    return blossom_decode_into(inner_blossom_, syndrome, correction);
}

Status SparseBlossomDecoder::decode_into(std::span<const uint8_t> syndrome, std::span<uint8_t> correction) const {
    if (syndrome.size() != n_checks_ || correction.size() != n_qubits_) return panic_error(kLengthPanic);
    {
        ScratchLease<SparseScratch> lease;
        SparseDecode(*this, syndrome, correction, lease.get()).run();
    }
    return verified(syndrome, correction);
}

Result<std::vector<uint8_t>> SparseBlossomDecoder::decode(std::span<const uint8_t> syndrome) const {
    std::vector<uint8_t> out(n_qubits_, 0);
    if (auto st = decode_into(syndrome, out); !st) return st.error();
    return out;
}

uint32_t SparseBlossomDecoder::exit_cost(size_t check, std::span<const uint32_t> entry_costs) const {
    const auto it = weight_overrides_.find(boundary_qubit_[check]);
    if (it != weight_overrides_.end()) return sparse_edge_cost(it->second);
    // No weight for the qubit itself: the cheapest of the check's own edges
    // along the boundary, else of all its edges, keeps the exit on the
    // scale of the pair costs.
    uint32_t along = UINT32_MAX, any = UINT32_MAX;
    for (size_t e = neighbour_begin_[check]; e < neighbour_begin_[check + 1]; ++e) {
        any = std::min(any, entry_costs[e]);
        if (is_boundary_check_[neighbours_[e].check]) along = std::min(along, entry_costs[e]);
    }
    if (along != UINT32_MAX) return along;
    return any != UINT32_MAX ? any : 1;
}

Result<std::vector<uint8_t>> SparseBlossomDecoder::decode_with_weights(
    std::span<const uint8_t> syndrome, std::span<const std::pair<uint32_t, double>> weights) {
    if (weights.empty()) return decode(syndrome);
    if (syndrome.size() != n_checks_) return panic_error(kLengthPanic);
    // The overrides live only for this call, whatever way it ends.
    struct Clear {
        std::unordered_map<uint32_t, double>& m;
        ~Clear() { m.clear(); }
    } clear{weight_overrides_};
    weight_overrides_.clear();
    for (const auto& [q, w] : weights) weight_overrides_[q] = w;
    std::vector<uint32_t> costs(neighbours_.size());
    for (size_t e = 0; e < neighbours_.size(); ++e) {
        const auto it = weight_overrides_.find(neighbours_[e].qubit);
        costs[e] = it == weight_overrides_.end() ? neighbours_[e].cost : sparse_edge_cost(it->second);
    }
    std::vector<uint32_t> exits(n_checks_, 1);
    for (size_t c = 0; c < n_checks_; ++c)
        if (boundary_qubit_[c] != kNoIndex) exits[c] = exit_cost(c, costs);
    std::vector<uint8_t> out(n_qubits_, 0);
    sparse_weighted_decode(*this, syndrome, out, costs, exits);
    if (auto st = verified(syndrome, out); !st) return st.error();
    return out;
}

void SparseBlossomDecoder::batch_decode(const uint8_t* syndromes, size_t n_shots, uint8_t* corrections) const {
    const size_t nc = n_checks_;
    const size_t nq = n_qubits_;
    parallel_for(n_shots, [&](size_t row) {
        (void)decode_into({syndromes + row * nc, nc}, {corrections + row * nq, nq});
    });
}

std::vector<uint8_t> SparseBlossomDecoder::batch_decode(std::span<const uint8_t> syndromes, size_t n_shots) const {
    std::vector<uint8_t> out(batch_bytes(n_shots, n_qubits_), 0);
    // With no qubits every row is empty; there is nothing to decode.
    if (!out.empty()) batch_decode(syndromes.data(), n_shots, out.data());
    return out;
}

Status SparseBlossomDecoder::check_syndrome_length(size_t length) const {
    if (length == n_checks_) return ok_status();
    return value_error("Syndrome length mismatch: " + std::to_string(length) + " != " + std::to_string(n_checks_));
}

}  // namespace vornex
