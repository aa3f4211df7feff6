// Every decoder class, batch driver and the C interface against the plain
// reference, row for row, over the standard and random codes.
#include <gtest/gtest.h>

#include <thread>

#include "uf/batch.h"
#include "uf/cpu_batch.h"
#include "uf/decoder.h"
#include "uf/fast_uf.h"
#include "uf/uf_reference.h"
#include "uf/vornex_uf.h"

namespace vornex {
namespace {

using Bytes = std::vector<uint8_t>;

struct Batch {
    Bytes syndromes;
    Bytes expected;
    size_t n_shots = 0;
};

Batch make_batch(Wyrand& rng, const testing::TestCode& code, size_t n_shots) {
    Batch batch;
    batch.n_shots = n_shots;
    for (size_t i = 0; i < n_shots; ++i) {
        const Bytes s = i % 2 ? testing::random_syndrome(rng, code.graph.n_checks, 0.15)
                              : testing::noisy_syndrome(rng, code.checks, code.graph.n_qubits, 0.05);
        const Bytes c = testing::reference_decode(code.graph, s).correction;
        batch.syndromes.insert(batch.syndromes.end(), s.begin(), s.end());
        batch.expected.insert(batch.expected.end(), c.begin(), c.end());
    }
    return batch;
}

// The C interface takes checks of one weight only, so codes with mixed
// weights have no C handle.
VornexFastDecoder* c_handle(const testing::TestCode& code) {
    const size_t w = code.checks[0].size();
    std::vector<uint32_t> flat;
    for (const auto& check : code.checks) {
        if (check.size() != w) return nullptr;
        flat.insert(flat.end(), check.begin(), check.end());
    }
    return vornex_fast_decoder_create(flat.data(), code.checks.size(), w, code.graph.n_qubits);
}

void check_all_drivers(const testing::TestCode& code, const Batch& batch) {
    const CheckGraph& g = code.graph;
    const size_t nc = g.n_checks, nq = g.n_qubits, n = batch.n_shots;
    const std::span<const uint8_t> in(batch.syndromes);
    const UnionFindDecoder uf(g);
    const FastUnionFindDecoder fast(g);
    const BatchDecoder collect(g);
    const CPUBatchDecoder cpu(g);
    const LaneCopies plain{transpose_to_lanes_plain, gather_lane_plain};

    ASSERT_EQ(uf.batch_decode(in, n), batch.expected);
    ASSERT_EQ(fast.batch_decode(in, n), batch.expected);
    ASSERT_EQ(collect.parallel_batch_decode(in, n), batch.expected);
    ASSERT_EQ(cpu.batch_decode_simd(in, n), batch.expected);
    ASSERT_EQ(cpu.batch_decode_simd(in, n, plain), batch.expected);
    ASSERT_EQ(cpu.batch_decode_pooled(in, n), batch.expected);
    ASSERT_EQ(cpu.batch_decode_pooled(in, n, plain), batch.expected);
    ASSERT_EQ(cpu.batch_decode_par(in, n), batch.expected);

    for (size_t i = 0; i < n; ++i) {
        const auto row = in.subspan(i * nc, nc);
        const Bytes want(batch.expected.begin() + i * nq, batch.expected.begin() + (i + 1) * nq);
        ASSERT_EQ(uf.decode(row).value(), want);
        ASSERT_EQ(fast.decode(row), want);
        ASSERT_EQ(cpu.decode(row), want);
    }

    VornexFastDecoder* handle = c_handle(code);
    if (handle == nullptr) return;
    // One spare byte each way so that even an empty batch passes real
    // pointers, and so that a write past the last row would show.
    Bytes in_buf(batch.syndromes);
    in_buf.push_back(0);
    Bytes out(n * nq + 1, 0xCD);
    ASSERT_EQ(vornex_decode_fast_batch(handle, in_buf.data(), n, out.data()), 0);
    ASSERT_EQ(out.back(), 0xCD);
    out.pop_back();
    ASSERT_EQ(out, batch.expected);
    Bytes one(nq, 0xCD);
    for (size_t i = 0; i < n; ++i) {
        ASSERT_EQ(vornex_decode_fast(handle, batch.syndromes.data() + i * nc, nc, one.data(), nq), 0);
        ASSERT_TRUE(std::equal(one.begin(), one.end(), batch.expected.begin() + i * nq));
    }
    vornex_fast_decoder_free(handle);
}

TEST(UfDrivers, AgreeWithReferenceOnStandardCodes) {
    Wyrand rng(0xD21E);
    for (const auto& code : testing::standard_codes()) {
        for (size_t n : {0u, 1u, 63u, 64u, 65u, 130u}) {
            SCOPED_TRACE(::testing::Message() << "n_checks " << code.graph.n_checks << " shots " << n);
            check_all_drivers(code, make_batch(rng, code, n));
        }
    }
}

TEST(UfDrivers, AgreeWithReferenceOnRandomCodes) {
    Wyrand rng(0xD21F);
    for (int i = 0; i < 300; ++i) {
        const auto code = testing::random_code(rng);
        check_all_drivers(code, make_batch(rng, code, 1 + rng.next_u64() % 140));
    }
}

TEST(UfDrivers, AgreeWithReferenceOnUniformWeightCodes) {
    Wyrand rng(0xD220);
    for (int i = 0; i < 300; ++i) {
        const auto code = testing::random_uniform_code(rng);
        check_all_drivers(code, make_batch(rng, code, 1 + rng.next_u64() % 140));
    }
}

TEST(UfDrivers, LargeBatchMatchesReference) {
    Wyrand rng(0xB16);
    const auto code = testing::make_code(testing::rotated_sector_top_bottom(7), 49);
    check_all_drivers(code, make_batch(rng, code, 10000));
}

TEST(UfDrivers, ConcurrentCallsOnOneDecoder) {
    Wyrand rng(0xC0C0);
    const auto code = testing::make_code(testing::rotated_sector_top_bottom(9), 81);
    const Batch batch = make_batch(rng, code, 500);
    const UnionFindDecoder uf(code.graph);
    std::vector<std::thread> threads;
    std::vector<int> ok(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            bool good = true;
            for (int rep = 0; rep < 5; ++rep) good &= uf.batch_decode(batch.syndromes, batch.n_shots) == batch.expected;
            const auto row = std::span<const uint8_t>(batch.syndromes).subspan(0, code.graph.n_checks);
            for (int rep = 0; rep < 200; ++rep)
                good &= uf.decode(row).value() == Bytes(batch.expected.begin(), batch.expected.begin() + 81);
            ok[t] = good;
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(ok, std::vector<int>(4, 1));
}

TEST(UfDrivers, MessagesAreExact) {
    const auto code = testing::make_code({{0, 1}, {1, 2}}, 3);
    const UnionFindDecoder uf(code.graph);
    const Bytes three{0, 1, 0};
    const auto panic = uf.decode(three);
    ASSERT_FALSE(panic.ok());
    EXPECT_EQ(panic.error().kind, ErrorKind::Panic);
    EXPECT_EQ(panic.error().message,
              "assertion `left == right` failed: Syndrome length must match n_checks\n  left: 3\n right: 2");

    EXPECT_EQ(uf.check_syndrome_length(0).error().message, "Syndrome length (0) does not match n_checks (2)");
    EXPECT_TRUE(uf.check_syndrome_length(2).ok());
    EXPECT_EQ(FastUnionFindDecoder(code.graph).check_syndrome_length(3).error().message,
              "Syndrome length mismatch: 3 != 2");
    EXPECT_EQ(CPUBatchDecoder(code.graph).check_syndrome_length(1).error().message,
              "Syndrome length 1 != n_checks 2");

    // Code errors are the check graph's own texts, passed on unchanged.
    const auto bad = UnionFindDecoder::create({{0, 1}}, 1);
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().kind, ErrorKind::Value);
    EXPECT_EQ(bad.error().message, build_check_graph({{0, 1}}, 1).error().message);
}

}  // namespace
}  // namespace vornex
