// Test helpers for the Union-Find family: a deliberately plain reference
// decoder, code layouts and seeded random syndromes.
//
// The reference keeps every step literal (no cached roots, a separate queue,
// fresh vectors per call) so that the fast core and every driver built on it
// can be checked byte for byte against something easy to read.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/wyrand.h"
#include "code/check_graph.h"
#include "code/generators.h"
#include "common/codes.h"

namespace vornex::testing {

struct ReferenceResult {
    std::vector<uint8_t> correction;
    // False when growth was stopped by the round cap rather than by itself.
    bool growth_finished = true;
};

// Edge e is fully grown once its support reaches units[e]; every tick an
// edge gains one unit per active end. round_cap == nullopt grows until
// nothing is active or nothing grows.
inline ReferenceResult reference_decode_units(const CheckGraph& g, const std::vector<uint8_t>& syndrome,
                                              const std::vector<uint32_t>& units,
                                              std::optional<size_t> round_cap = std::nullopt) {
    const size_t N = g.n_nodes;
    const size_t C = g.n_checks;
    const size_t E = g.edges.size();
    std::vector<uint32_t> parent(N), support(E, 0);
    std::vector<uint8_t> parity(N, 0), has_bnd(N, 0);
    for (size_t n = 0; n < N; ++n) parent[n] = static_cast<uint32_t>(n);
    has_bnd[C] = 1;
    for (size_t c = 0; c < C; ++c)
        if (syndrome[c] & 1) parity[c] = 1;

    auto find = [&](uint32_t x) {
        while (parent[x] != x) {
            parent[x] = parent[parent[x]];
            x = parent[x];
        }
        return x;
    };
    auto active = [&](uint32_t r) { return parity[r] == 1 && has_bnd[r] == 0; };

    ReferenceResult out;
    size_t rounds = 0;
    for (;;) {
        bool any = false;
        for (size_t c = 0; c < C; ++c)
            if (active(find(static_cast<uint32_t>(c)))) any = true;
        if (!any) break;
        if (round_cap && rounds == *round_cap) {
            out.growth_finished = false;
            break;
        }
        ++rounds;
        bool grew = false;
        for (size_t e = 0; e < E; ++e) {
            if (support[e] == units[e]) continue;
            uint32_t inc = (active(find(g.edges[e].a)) ? 1 : 0) + (active(find(g.edges[e].b)) ? 1 : 0);
            if (inc > 0) {
                support[e] = std::min(support[e] + inc, units[e]);
                grew = true;
            }
        }
        if (!grew) break;
        for (size_t e = 0; e < E; ++e) {
            if (support[e] != units[e]) continue;
            uint32_t ra = find(g.edges[e].a), rb = find(g.edges[e].b);
            if (ra == rb) continue;
            // Which root survives changes no cluster, so the reference keeps the plainest union.
            parent[rb] = ra;
            parity[ra] ^= parity[rb];
            has_bnd[ra] |= has_bnd[rb];
        }
    }

    // Only fully grown edges carry the forest.
    std::vector<std::vector<std::pair<uint32_t, uint32_t>>> adj(N);
    for (size_t e = 0; e < E; ++e) {
        if (support[e] != units[e]) continue;
        adj[g.edges[e].a].push_back({g.edges[e].b, g.edges[e].q});
        adj[g.edges[e].b].push_back({g.edges[e].a, g.edges[e].q});
    }

    std::vector<uint8_t> visited(N, 0), node_par(N, 0);
    std::vector<uint32_t> tparent(N), tqubit(N, 0xFFFFFFFFu), order;
    for (size_t n = 0; n < N; ++n) tparent[n] = static_cast<uint32_t>(n);
    for (size_t c = 0; c < C; ++c) node_par[c] = syndrome[c] & 1;
    std::vector<uint32_t> roots{static_cast<uint32_t>(C)};
    for (size_t n = 0; n < N; ++n) roots.push_back(static_cast<uint32_t>(n));
    for (uint32_t r : roots) {
        if (visited[r]) continue;
        visited[r] = 1;
        std::vector<uint32_t> queue{r};
        for (size_t head = 0; head < queue.size(); ++head) {
            uint32_t u = queue[head];
            order.push_back(u);
            for (auto [v, q] : adj[u]) {
                if (visited[v]) continue;
                visited[v] = 1;
                tparent[v] = u;
                tqubit[v] = q;
                queue.push_back(v);
            }
        }
    }

    out.correction.assign(g.n_qubits, 0);
    for (size_t i = order.size(); i-- > 0;) {
        uint32_t v = order[i];
        if (tparent[v] == v || node_par[v] != 1) continue;
        if (tqubit[v] < g.n_qubits) out.correction[tqubit[v]] ^= 1;
        node_par[tparent[v]] ^= 1;
        node_par[v] = 0;
    }
    return out;
}

// The defined decoder: every edge weighs two half-steps.
inline ReferenceResult reference_decode(const CheckGraph& g, const std::vector<uint8_t>& syndrome,
                                        std::optional<size_t> round_cap = std::nullopt) {
    return reference_decode_units(g, syndrome, std::vector<uint32_t>(g.edges.size(), 2), round_cap);
}

// True when the correction flips exactly the fired checks.
inline bool reproduces(const CheckList& checks, const std::vector<uint8_t>& syndrome,
                       const std::vector<uint8_t>& correction) {
    for (size_t c = 0; c < checks.size(); ++c) {
        uint8_t x = 0;
        for (uint32_t q : checks[c])
            if (q < correction.size()) x ^= correction[q];
        if (x != (syndrome[c] & 1)) return false;
    }
    return true;
}

struct TestCode {
    CheckList checks;
    CheckGraph graph;
};

inline TestCode make_code(CheckList checks, std::optional<size_t> n_qubits = std::nullopt) {
    auto graph = build_check_graph(checks, n_qubits);
    return {std::move(checks), std::move(graph).value()};
}

// Random code whose qubits lie in zero, one or two check slots (two slots
// may be the same check, giving a self-loop), with unused qubits mixed in.
inline TestCode random_code(Wyrand& rng) {
    const size_t n_checks = 1 + rng.next_u64() % 12;
    const size_t n_qubits = 1 + rng.next_u64() % 24;
    CheckList checks(n_checks);
    for (uint32_t q = 0; q < n_qubits; ++q) {
        const uint64_t kind = rng.next_u64() % 8;
        const size_t slots = kind == 0 ? 0 : (kind < 3 ? 1 : 2);
        for (size_t k = 0; k < slots; ++k) checks[rng.next_u64() % n_checks].push_back(q);
    }
    size_t total = n_qubits;
    for (auto& check : checks)
        if (check.empty()) check.push_back(static_cast<uint32_t>(total++));
    for (auto& check : checks)
        for (size_t i = check.size(); i > 1; --i) std::swap(check[i - 1], check[rng.next_u64() % i]);
    // A few spare qubits past the largest index that no check touches.
    return make_code(std::move(checks), total + rng.next_u64() % 3);
}

// Random code whose checks all have one weight (the only kind the C
// interface accepts); every qubit still lies in at most two check slots.
inline TestCode random_uniform_code(Wyrand& rng) {
    const size_t n_checks = 1 + rng.next_u64() % 10;
    const size_t weight = 1 + rng.next_u64() % 4;
    std::vector<uint32_t> uses;
    CheckList checks(n_checks);
    for (auto& check : checks) {
        for (size_t k = 0; k < weight; ++k) {
            uint32_t q = static_cast<uint32_t>(rng.next_u64() % (uses.size() + 2));
            if (q >= uses.size() || uses[q] == 2) {
                q = static_cast<uint32_t>(uses.size());
                uses.push_back(0);
            }
            ++uses[q];
            check.push_back(q);
        }
    }
    return make_code(std::move(checks), uses.size() + rng.next_u64() % 3);
}

// Bytes 0..3 with about `p` of them odd; bits above bit 0 must be ignored.
inline std::vector<uint8_t> random_syndrome(Wyrand& rng, size_t n, double p) {
    std::vector<uint8_t> s(n);
    for (auto& b : s) {
        const uint8_t high = static_cast<uint8_t>(rng.next_u64() % 4 == 0 ? 2 : 0);
        b = static_cast<uint8_t>(high | (rng.next_unit() < p ? 1 : 0));
    }
    return s;
}

// Syndrome of independent bit flips with probability p per qubit.
inline std::vector<uint8_t> noisy_syndrome(Wyrand& rng, const CheckList& checks, size_t n_qubits, double p) {
    std::vector<uint8_t> err(n_qubits);
    for (auto& b : err) b = rng.next_unit() < p;
    std::vector<uint8_t> s(checks.size(), 0);
    for (size_t c = 0; c < checks.size(); ++c)
        for (uint32_t q : checks[c]) s[c] ^= err[q];
    return s;
}

// The codes the differential tests sweep over.
inline std::vector<TestCode> standard_codes() {
    std::vector<TestCode> codes;
    for (uint32_t d : {2u, 3u, 5u, 8u}) {
        auto rep = generate_repetition_code(d);
        codes.push_back(make_code(rep.checks, rep.n_qubits));
    }
    for (uint32_t d : {2u, 3u}) {
        auto ring = generate_ring_code(d).value();
        codes.push_back(make_code(ring.checks, ring.n_qubits));
    }
    for (uint32_t d = 3; d <= 15; d += 2) codes.push_back(make_code(rotated_sector_top_bottom(d), size_t{d} * d));
    return codes;
}

}  // namespace vornex::testing
