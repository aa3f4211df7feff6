#include "uf/uf_core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "uf/uf_reference.h"

namespace vornex {
namespace {

using testing::make_code;
using testing::reference_decode;
using Bytes = std::vector<uint8_t>;

Bytes run(const CheckGraph& g, const Bytes& syndrome) { return decode(g, syndrome); }

TEST(UfCore, RepetitionCodeWorkedExamples) {
    const auto code = make_code({{0, 1}, {1, 2}}, 3);
    EXPECT_EQ(run(code.graph, {0, 0}), (Bytes{0, 0, 0}));
    EXPECT_EQ(run(code.graph, {1, 0}), (Bytes{1, 0, 0}));
    EXPECT_EQ(run(code.graph, {1, 1}), (Bytes{0, 1, 0}));
    EXPECT_EQ(run(code.graph, {0, 1}), (Bytes{0, 0, 1}));
    // Only bit 0 of a syndrome byte counts.
    EXPECT_EQ(run(code.graph, {2, 3}), (Bytes{0, 0, 1}));
    EXPECT_EQ(run(code.graph, {3, 2}), (Bytes{1, 0, 0}));
}

// Errors on qubits 0 and 2: growth fully covers qubits 0 to 3 but never
// the boundary edge of qubit 4, so peeling may not route a defect out
// through it (that residual would be the logical operator).
TEST(UfCore, PeelingStaysOnFullyGrownEdges) {
    const auto rep = generate_repetition_code(5);
    const auto code = make_code(rep.checks, rep.n_qubits);
    EXPECT_EQ(run(code.graph, {1, 1, 1, 0}), (Bytes{1, 0, 1, 0, 0}));
}

TEST(UfCore, RingWithSingleDefectLeavesItUnexplained) {
    const auto ring = generate_ring_code(2).value();
    const auto code = make_code(ring.checks, ring.n_qubits);
    Bytes s(code.graph.n_checks, 0);
    s[2] = 1;
    const Bytes c = run(code.graph, s);
    EXPECT_EQ(c.size(), 4u);
    EXPECT_FALSE(testing::reproduces(code.checks, s, c));
    EXPECT_EQ(c, reference_decode(code.graph, s).correction);
}

TEST(UfCore, UnusedQubitsAndSelfLoopsStayZero) {
    // Qubit 0 is a self-loop on check 0, qubits 3 and 4 are in no check.
    const auto code = make_code({{0, 0, 1}, {1, 2}}, 5);
    for (Bytes s : {Bytes{1, 0}, Bytes{0, 1}, Bytes{1, 1}}) {
        const Bytes c = run(code.graph, s);
        ASSERT_EQ(c.size(), 5u);
        EXPECT_EQ(c[0], 0);
        EXPECT_EQ(c[3], 0);
        EXPECT_EQ(c[4], 0);
        EXPECT_TRUE(testing::reproduces(code.checks, s, c));
    }
}

// Checks in a line, the boundary only beyond check 0: qubit 0 is in check 0
// alone, qubit i in checks i-1 and i. A single defect on the last check
// grows by one half-edge per round, about 2n rounds to reach the boundary.
CheckList chain_checks(uint32_t n) {
    CheckList checks;
    for (uint32_t i = 0; i + 1 < n; ++i) checks.push_back({i, i + 1});
    checks.push_back({n - 1});
    return checks;
}

TEST(UfCore, LongChainReachesTheBoundary) {
    for (uint32_t n : {3u, 10u, 200u}) {
        const auto code = make_code(chain_checks(n), n);
        Bytes s(n, 0);
        s[n - 1] = 1;
        const Bytes c = run(code.graph, s);
        EXPECT_EQ(c, Bytes(n, 1)) << n;
        EXPECT_TRUE(testing::reproduces(code.checks, s, c));
        EXPECT_EQ(c, reference_decode(code.graph, s).correction);
    }
}

TEST(UfCore, CappedGrowthFailsWhereUnlimitedGrowthSucceeds) {
    const auto code = make_code(chain_checks(12), 12);
    Bytes s(12, 0);
    s[11] = 1;
    const auto capped = reference_decode(code.graph, s, code.graph.n_nodes + 2);
    EXPECT_FALSE(capped.growth_finished);
    EXPECT_FALSE(testing::reproduces(code.checks, s, capped.correction));
    EXPECT_TRUE(testing::reproduces(code.checks, s, run(code.graph, s)));
}

// The fast core agrees with the plain reference everywhere, and wherever a
// round cap of N + 2 would have let growth end by itself the bytes are the
// ones the capped loop gives.
TEST(UfCore, AgreesWithReferenceOnStandardAndRandomCodes) {
    Wyrand rng(0x5eed0001);
    UfWorkspace shared;
    size_t capped_runs = 0;
    auto check = [&](const testing::TestCode& code, const Bytes& s) {
        const auto ref = reference_decode(code.graph, s);
        Bytes out(code.graph.n_qubits, 0xAB);
        decode_into(code.graph, s, shared, out);
        ASSERT_EQ(out, ref.correction);
        const auto capped = reference_decode(code.graph, s, code.graph.n_nodes + 2);
        if (capped.growth_finished) {
            ASSERT_EQ(capped.correction, ref.correction);
            ++capped_runs;
        }
    };
    for (const auto& code : testing::standard_codes()) {
        for (double p : {0.02, 0.1, 0.3}) {
            for (int i = 0; i < 150; ++i) {
                check(code, testing::noisy_syndrome(rng, code.checks, code.graph.n_qubits, p));
                check(code, testing::random_syndrome(rng, code.graph.n_checks, p));
            }
        }
    }
    for (int i = 0; i < 3000; ++i) {
        const auto code = testing::random_code(rng);
        check(code, testing::random_syndrome(rng, code.graph.n_checks, 0.4));
    }
    EXPECT_GT(capped_runs, 10000u);
}

// A decode only touches its clusters, so large graphs with a handful of
// events are where a stale entry or a missed frontier node would show. One
// workspace serves every graph in turn.
TEST(UfCore, AgreesWithReferenceOnLargeGraphsWithFewEvents) {
    Wyrand rng(0x5eed0002);
    std::vector<testing::TestCode> codes;
    codes.push_back(make_code(testing::rotated_sector_top_bottom(41), 41 * 41));
    codes.push_back(make_code(testing::rotated_sector_left_right(31), 31 * 31));
    codes.push_back(make_code(chain_checks(5000), 5000));
    const auto ring = generate_ring_code(30).value();
    codes.push_back(make_code(ring.checks, ring.n_qubits));
    UfWorkspace shared;
    for (int i = 0; i < 150; ++i) {
        for (const auto& code : codes) {
            const double p = i % 3 == 0 ? 0.0005 : 0.003;
            const Bytes s = i % 2 ? testing::random_syndrome(rng, code.graph.n_checks, p)
                                  : testing::noisy_syndrome(rng, code.checks, code.graph.n_qubits, p);
            Bytes out(code.graph.n_qubits, 0xCD);
            decode_into(code.graph, s, shared, out);
            ASSERT_EQ(out, reference_decode(code.graph, s).correction) << i;
        }
    }
}

// Between decodes every flag a decode relies on finding clear is clear, so
// the next decode (on any graph) starts from a clean slate.
TEST(UfCore, DecodeLeavesTheWorkspaceClean) {
    Wyrand rng(11);
    UfWorkspace ws;
    auto all_zero = [](const auto& v) { return std::all_of(v.begin(), v.end(), [](auto x) { return x == 0; }); };
    for (const auto& code : testing::standard_codes()) {
        for (int i = 0; i < 20; ++i) {
            const Bytes s = testing::random_syndrome(rng, code.graph.n_checks, 0.2);
            Bytes out(code.graph.n_qubits);
            decode_into(code.graph, s, ws, out);
            ASSERT_TRUE(all_zero(ws.clusters.touched));
            ASSERT_TRUE(ws.clusters.touched_nodes.empty());
            ASSERT_TRUE(all_zero(ws.growth.grown));
            ASSERT_TRUE(all_zero(ws.growth.full));
            ASSERT_TRUE(all_zero(ws.growth.rate));
            ASSERT_TRUE(all_zero(ws.growth.listed));
            ASSERT_TRUE(all_zero(ws.peeling.visited));
            ASSERT_TRUE(ws.growth.active.empty() && ws.growth.boundary_full.empty() && ws.defects.empty());
        }
    }
}

TEST(UfCore, ListsDefectsByBitZeroAcrossWordEdges) {
    Wyrand rng(12);
    for (size_t n : {0u, 1u, 7u, 8u, 9u, 17u, 64u, 100u}) {
        const Bytes s = testing::random_syndrome(rng, n, 0.1);
        std::vector<uint32_t> got, want;
        list_defects(s, got);
        for (uint32_t c = 0; c < n; ++c)
            if (s[c] & 1) want.push_back(c);
        EXPECT_EQ(got, want) << n;
    }
}

TEST(UfCore, WorkspaceReuseAcrossGraphSizes) {
    Wyrand rng(7);
    const auto big = make_code(testing::rotated_sector_top_bottom(11), 121);
    const auto small = make_code({{0, 1}, {1, 2}}, 3);
    UfWorkspace ws;
    for (int i = 0; i < 50; ++i) {
        for (const auto* code : {&big, &small}) {
            const Bytes s = testing::random_syndrome(rng, code->graph.n_checks, 0.2);
            Bytes out(code->graph.n_qubits, 1);
            decode_into(code->graph, s, ws, out);
            EXPECT_EQ(out, run(code->graph, s));
        }
    }
    // Grown once, never shrunk by the smaller graph.
    EXPECT_EQ(ws.clusters.parent.size(), big.graph.n_nodes);
    EXPECT_EQ(ws.growth.grown.size(), big.graph.edges.size());
}

// The allocating form keeps scratch on the thread; interleaving graphs of
// different sizes, one above the size it keeps scratch for, and decoding from
// several threads must still give the bytes of a brand-new workspace.
TEST(UfCore, AllocatingDecodeMatchesFreshWorkspaces) {
    CheckList chain;
    for (uint32_t i = 0; i + 1 < 40000; ++i) chain.push_back({i, i + 1});
    const auto huge = make_code(chain, 40000);
    const auto big = make_code(testing::rotated_sector_top_bottom(11), 121);
    const auto small = make_code({{0, 1}, {1, 2}}, 3);
    auto check = [&](uint64_t seed) {
        Wyrand rng(seed);
        for (int i = 0; i < 20; ++i) {
            for (const auto* code : {&big, &huge, &small}) {
                const Bytes s = testing::random_syndrome(rng, code->graph.n_checks, 0.01);
                UfWorkspace fresh;
                Bytes expected(code->graph.n_qubits, 1);
                decode_into(code->graph, s, fresh, expected);
                EXPECT_EQ(decode(code->graph, s), expected);
            }
        }
    };
    std::vector<std::thread> threads;
    for (uint64_t t = 0; t < 3; ++t) threads.emplace_back(check, 100 + t);
    check(99);
    for (auto& thread : threads) thread.join();
}

}  // namespace
}  // namespace vornex
