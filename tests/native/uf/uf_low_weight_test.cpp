// Union-Find corrects every error of weight up to (d - 1) / 2: peeling only
// along fully grown edges keeps each defect inside the region growth covered.
#include <gtest/gtest.h>

#include "uf/low_weight_errors.h"
#include "uf/uf_core.h"
#include "uf/uf_reference.h"

namespace vornex {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(UfLowWeight, LogicalTestFlagsAMinimumWeightLogical) {
    for (const auto& code : testing::distance_codes()) {
        // The middle row (the whole chain for the repetition code) has no
        // syndrome and crosses from the left boundary to the right one.
        const uint32_t d = code.distance;
        const uint32_t row = code.n_qubits == d ? 0 : d / 2;
        Bytes residual(code.n_qubits, 0);
        for (uint32_t c = 0; c < d; ++c) residual[row * d + c] = 1;
        EXPECT_EQ(testing::syndrome_of(code.checks, residual), Bytes(code.checks.size(), 0)) << code.name;
        EXPECT_TRUE(code.is_logical(residual)) << code.name;
        EXPECT_FALSE(code.is_logical(Bytes(code.n_qubits, 0))) << code.name;
    }
}

TEST(UfLowWeight, EveryCorrectableErrorIsCorrected) {
    UfWorkspace workspace;
    for (const auto& code : testing::distance_codes()) {
        const auto graph = build_check_graph(code.checks, code.n_qubits).value();
        Bytes correction(code.n_qubits);
        size_t failures = 0, seen = 0;
        testing::for_each_correctable_error(code, 2000, 0x10e + code.distance, [&](const Bytes& error) {
            const Bytes s = testing::syndrome_of(code.checks, error);
            decode_into(graph, s, workspace, correction);
            Bytes residual(code.n_qubits);
            for (size_t q = 0; q < residual.size(); ++q) residual[q] = error[q] ^ correction[q];
            const bool ok = testing::syndrome_of(code.checks, residual) == Bytes(s.size(), 0) &&
                            !code.is_logical(residual);
            failures += !ok;
            ++seen;
        });
        EXPECT_EQ(failures, 0u) << code.name << " over " << seen << " errors";
    }
}

// The reference shares the fix, so it is held to the same standard.
TEST(UfLowWeight, ReferenceCorrectsEveryWeightTwoError) {
    for (uint32_t d : {5u, 7u}) {
        const auto code = testing::rotated_distance_code(d);
        const auto graph = build_check_graph(code.checks, code.n_qubits).value();
        testing::for_each_correctable_error(code, 0, 0, [&](const Bytes& error) {
            const Bytes s = testing::syndrome_of(code.checks, error);
            const Bytes c = testing::reference_decode(graph, s).correction;
            Bytes residual(code.n_qubits);
            for (size_t q = 0; q < residual.size(); ++q) residual[q] = error[q] ^ c[q];
            ASSERT_FALSE(code.is_logical(residual)) << code.name;
        });
    }
}

}  // namespace
}  // namespace vornex
