// The kernel text, compiled for the host, against the Union-Find core.
#include <gtest/gtest.h>

#include "code/generators.h"
#include "common/codes.h"
#include "gpu/kernel_host.h"
#include "gpu/kernel_layout.h"
#include "uf/uf_core.h"
#include "uf/uf_reference.h"

namespace vornex::testing {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr KernelLayout kLayouts[] = {KernelLayout::Contiguous, KernelLayout::LanesU16, KernelLayout::LanesU32};

// Every row of the kernel's batch, in every layout the graph allows, equals a
// decode_into of that row with one reused workspace.
void expect_rows_match_core(const TestCode& code, const Bytes& rows, size_t batch, bool check_isolation = false) {
    const CheckGraph& g = code.graph;
    const bool narrow = index_bytes(g.n_nodes, g.edges.size(), g.n_qubits) == 2;
    Bytes want(batch * g.n_qubits);
    UfWorkspace ws;
    for (size_t i = 0; i < batch; ++i)
        decode_into(g, {rows.data() + i * g.n_checks, g.n_checks}, ws, {want.data() + i * g.n_qubits, g.n_qubits});
    for (KernelLayout layout : kLayouts) {
        if (layout == KernelLayout::LanesU16 && !narrow) continue;
        const Bytes got = kernel_decode(g, rows.data(), batch, {layout, check_isolation});
        for (size_t i = 0; i < batch; ++i)
            ASSERT_TRUE(std::equal(want.begin() + i * g.n_qubits, want.begin() + (i + 1) * g.n_qubits,
                                   got.begin() + i * g.n_qubits))
                << "layout " << static_cast<int>(layout) << ", row " << i << " of " << batch << ", " << g.n_checks
                << " checks, " << g.n_qubits << " qubits";
    }
}

Bytes random_rows(Wyrand& rng, size_t n_checks, size_t batch) {
    Bytes rows;
    for (size_t i = 0; i < batch; ++i) {
        const double p = (i % 4 == 0) ? 0.5 : (i % 4 == 1 ? 0.15 : 0.04);
        const Bytes s = random_syndrome(rng, n_checks, p);
        rows.insert(rows.end(), s.begin(), s.end());
    }
    return rows;
}

TEST(CudaKernel, RepetitionCodeWorkedExamples) {
    const auto code = make_code({{0, 1}, {1, 2}}, 3);
    const Bytes rows = {0, 0, 1, 0, 1, 1, 0, 1, 2, 3};
    for (KernelLayout layout : kLayouts)
        EXPECT_EQ(kernel_decode(code.graph, rows.data(), 5, {layout}),
                  (Bytes{0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 1}));
}

TEST(CudaKernel, IndexWidthFollowsTheGraph) {
    EXPECT_EQ(index_bytes(145, 289, 289), 2u);       // rotated d=17
    EXPECT_EQ(index_bytes(100, 32766, 10), 2u);      // adjacency offsets reach 2E
    EXPECT_EQ(index_bytes(100, 32767, 10), 4u);
    EXPECT_EQ(index_bytes(0xFFFE, 10, 10), 2u);
    EXPECT_EQ(index_bytes(0xFFFF, 10, 10), 4u);      // all ones marks a tree root
    EXPECT_EQ(index_bytes(10, 10, 0xFFFF), 4u);
}

// Each GPU thread run alone changes only its own scratch, in every layout:
// a thread whose slice overlaps a neighbour's fails here although its own
// rows come out right when threads run one after the other.
TEST(CudaKernel, ThreadsTouchOnlyTheirOwnScratch) {
    Wyrand rng(0x6f776e);
    for (int round = 0; round < 12; ++round) {
        const TestCode code = random_code(rng);
        const size_t batch = 33 + rng.next_u64() % 40;  // at least two warps
        expect_rows_match_core(code, random_rows(rng, code.graph.n_checks, batch), batch, true);
        if (HasFailure()) return;
    }
}

TEST(CudaKernel, MatchesCoreOnRandomCodes) {
    Wyrand rng(0x6b65726e656cull);
    for (int round = 0; round < 400; ++round) {
        const TestCode code = random_code(rng);
        // Batches off the 128-thread block size leave idle threads behind.
        const size_t batch = 1 + rng.next_u64() % 140;
        expect_rows_match_core(code, random_rows(rng, code.graph.n_checks, batch), batch);
        if (HasFailure()) return;
    }
}

TEST(CudaKernel, MatchesCoreOnLongChainsAndRings) {
    // Long chains need many more growth rounds than a short code; the kernel
    // must grow until nothing is active, as the core does.
    Wyrand rng(41);
    for (uint32_t d : {2u, 5u, 33u, 97u, 160u}) {
        const auto rep = generate_repetition_code(d);
        if (rep.checks.empty()) continue;
        const TestCode code = make_code(rep.checks, rep.n_qubits);
        expect_rows_match_core(code, random_rows(rng, code.graph.n_checks, 130), 130);
    }
    for (uint32_t d : {1u, 2u, 4u, 9u}) {
        const auto ring = generate_ring_code(d).value();
        const TestCode code = make_code(ring.checks, ring.n_qubits);
        expect_rows_match_core(code, random_rows(rng, code.graph.n_checks, 64), 64);
    }
}

TEST(CudaKernel, MatchesCoreOnNoisyRotatedSectors) {
    Wyrand rng(7);
    for (uint32_t d : {3u, 5u, 9u, 13u}) {
        const TestCode code = make_code(rotated_sector_top_bottom(d), size_t{d} * d);
        for (double p : {0.01, 0.05, 0.12}) {
            Bytes rows;
            const size_t batch = 257;
            for (size_t i = 0; i < batch; ++i) {
                const Bytes s = noisy_syndrome(rng, code.checks, code.graph.n_qubits, p);
                rows.insert(rows.end(), s.begin(), s.end());
            }
            expect_rows_match_core(code, rows, batch);
        }
    }
}

}  // namespace
}  // namespace vornex::testing
