// The weighted Union-Find against the plain reference grown tick by tick
// with the same integer units, and against the defined decoder when the
// weights are all equal.
#include "uf/weighted_uf.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "uf/low_weight_errors.h"
#include "uf/uf_reference.h"
#include "uf/weighted_decoder.h"

namespace vornex {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::TestCode;

std::vector<double> random_weights(Wyrand& rng, size_t n_qubits) {
    std::vector<double> w(n_qubits);
    for (auto& x : w) x = 0.3 + 8.0 * rng.next_unit();
    return w;
}

WeightedUnionFind weighted(const TestCode& code, std::optional<std::vector<double>> weights) {
    return WeightedUnionFind::create(code.checks, code.graph.n_qubits, std::move(weights)).value();
}

TEST(WeightedUf, AgreesWithTickByTickReference) {
    Wyrand rng(0x3e1);
    UfWorkspace shared;
    auto check = [&](const TestCode& code, int shots, double p) {
        const auto dec = weighted(code, random_weights(rng, code.graph.n_qubits));
        for (int i = 0; i < shots; ++i) {
            const Bytes s = i % 2 ? testing::random_syndrome(rng, code.graph.n_checks, p)
                                  : testing::noisy_syndrome(rng, code.checks, code.graph.n_qubits, p);
            Bytes out(code.graph.n_qubits, 0x77);
            dec.decode_into(s, shared, out);
            ASSERT_EQ(out, testing::reference_decode_units(dec.graph(), s, dec.edge_units()).correction);
        }
    };
    for (const auto& code : testing::standard_codes())
        for (double p : {0.02, 0.1, 0.3}) check(code, 40, p);
    for (int i = 0; i < 1500; ++i) check(testing::random_code(rng), 2, 0.4);
    check(testing::make_code(testing::rotated_sector_top_bottom(41), 41 * 41), 60, 0.002);
}

// Event growth resets what it touched, so one workspace serves the weighted
// and the defined engine in turn.
TEST(WeightedUf, SharesAWorkspaceWithTheDefinedCore) {
    Wyrand rng(0x3e5);
    UfWorkspace ws;
    auto all_equal = [](const auto& v, auto x) { return std::all_of(v.begin(), v.end(), [&](auto y) { return y == x; }); };
    for (const auto& code : testing::standard_codes()) {
        const auto dec = weighted(code, random_weights(rng, code.graph.n_qubits));
        for (int i = 0; i < 20; ++i) {
            const Bytes s = testing::noisy_syndrome(rng, code.checks, code.graph.n_qubits, 0.1);
            Bytes out(code.graph.n_qubits);
            dec.decode_into(s, ws, out);
            ASSERT_TRUE(all_equal(ws.events.stamp, EventScratch::kNever));
            ASSERT_TRUE(all_equal(ws.events.counted, 0) && all_equal(ws.events.mark, 0));
            ASSERT_TRUE(all_equal(ws.events.bucket_head, kNoNode) && ws.events.n_queued == 0);
            ASSERT_TRUE(all_equal(ws.events.occupied, uint64_t{0}));
            ASSERT_TRUE(all_equal(ws.growth.rate, 0) && all_equal(ws.growth.full, 0));
            decode_into(code.graph, s, ws, out);
            ASSERT_EQ(out, decode(code.graph, s));
        }
    }
}

TEST(WeightedUf, EqualWeightsGiveTheDefinedDecoder) {
    Wyrand rng(0x3e2);
    for (const auto& code : testing::standard_codes()) {
        const auto none = weighted(code, std::nullopt);
        const auto equal = weighted(code, std::vector<double>(code.graph.n_qubits, 3.7));
        for (int i = 0; i < 100; ++i) {
            const Bytes s = testing::noisy_syndrome(rng, code.checks, code.graph.n_qubits, 0.08);
            const Bytes defined = decode(code.graph, s);
            ASSERT_EQ(none.decode(s), defined);
            ASSERT_EQ(equal.decode(s), defined);
        }
    }
}

TEST(WeightedUf, HeavyEdgeIsAvoided) {
    // Repetition code of distance 3: a defect on check 0 leaves by qubit 0
    // unless qubit 0 is far less likely than the path through qubits 1 and 2.
    const auto code = testing::make_code({{0, 1}, {1, 2}}, 3);
    EXPECT_EQ(weighted(code, std::nullopt).decode(Bytes{1, 0}), (Bytes{1, 0, 0}));
    EXPECT_EQ(weighted(code, std::vector<double>{9, 1, 1}).decode(Bytes{1, 0}), (Bytes{0, 1, 1}));
}

TEST(WeightedUf, PredictionsReproduceTheirSyndromes) {
    Wyrand rng(0x3e3);
    for (uint32_t d : {5u, 9u, 13u}) {
        const auto code = testing::make_code(testing::rotated_sector_top_bottom(d), size_t{d} * d);
        const auto dec = weighted(code, random_weights(rng, code.graph.n_qubits));
        for (int i = 0; i < 300; ++i) {
            const Bytes s = testing::noisy_syndrome(rng, code.checks, code.graph.n_qubits, 0.06);
            ASSERT_TRUE(testing::reproduces(code.checks, s, dec.decode(s))) << d;
        }
    }
}

TEST(WeightedUf, EveryCorrectableErrorIsCorrectedWithEqualWeights) {
    for (const auto& code : testing::distance_codes()) {
        const auto dec =
            WeightedUnionFind::create(code.checks, code.n_qubits, std::vector<double>(code.n_qubits, 2.5)).value();
        size_t failures = 0;
        testing::for_each_correctable_error(code, 500, 0x3e4 + code.distance, [&](const Bytes& error) {
            const Bytes c = dec.decode(testing::syndrome_of(code.checks, error));
            Bytes residual(code.n_qubits);
            for (size_t q = 0; q < residual.size(); ++q) residual[q] = error[q] ^ c[q];
            failures += testing::syndrome_of(code.checks, residual) != Bytes(code.checks.size(), 0) ||
                        code.is_logical(residual);
        });
        EXPECT_EQ(failures, 0u) << code.name;
    }
}

TEST(WeightedUf, RefusesBadWeights) {
    const CheckList checks{{0, 1}, {1, 2}};
    auto err = [&](std::vector<double> w) { return WeightedUnionFind::create(checks, 3, w).error().message; };
    EXPECT_EQ(err({1, 2}), "weights must have one entry per qubit: got 2, expected 3");
    EXPECT_EQ(err({1, -1, 2}), "weights must be finite and non-negative: weight 1 is -1.000000");
    EXPECT_EQ(err({1, 2, NAN}), "weights must be finite and non-negative: weight 2 is nan");
    // Units scale with the largest weight; the smallest still takes one.
    const auto dec = WeightedUnionFind::create(checks, 3, std::vector<double>{0.0, 1.0, 2.0}).value();
    EXPECT_EQ(dec.edge_units(), (std::vector<uint32_t>{1, WeightedUnionFind::kMaxUnits / 2, WeightedUnionFind::kMaxUnits}));
}

// The decoder class's length text, raised by the binding before a decode.
TEST(WeightedUf, DecoderLengthTextIsExact) {
    const auto dec = WeightedUnionFindDecoder::create({{0, 1}, {1, 2}}, 3, std::nullopt).value();
    EXPECT_TRUE(dec.check_syndrome_length(2).ok());
    const auto status = dec.check_syndrome_length(3);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().kind, ErrorKind::Value);
    EXPECT_EQ(status.error().message, "Syndrome length (3) does not match n_checks (2)");
}

}  // namespace
}  // namespace vornex
