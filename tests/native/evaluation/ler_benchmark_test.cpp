#include "evaluation/ler_benchmark.h"

#include <gtest/gtest.h>

#include <cmath>

#include "code/rotated_surface.h"

#include "base/wyrand.h"

namespace vornex {
namespace {

GNNPredecoder seeded_network(uint64_t seed) {
    Wyrand rng(seed);
    return GNNPredecoder(10, 8, 16, 2, rng);
}

TEST(LerCode, RotatedSurfaceLayout) {
    const CheckList d5 = rotated_surface_checks(5);
    ASSERT_EQ(d5.size(), 12u);
    EXPECT_EQ(d5[0], (std::vector<uint32_t>{0, 1, 5, 6}));
    EXPECT_EQ(d5[1], (std::vector<uint32_t>{2, 3, 7, 8}));
    EXPECT_EQ(d5[2], (std::vector<uint32_t>{6, 7, 11, 12}));
    // Boundary pairs after the eight plaquettes: top then bottom at k = 1 and k = 3.
    EXPECT_EQ(d5[8], (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(d5[9], (std::vector<uint32_t>{21, 22}));
    EXPECT_EQ(d5[10], (std::vector<uint32_t>{3, 4}));
    EXPECT_EQ(d5[11], (std::vector<uint32_t>{23, 24}));
    for (uint32_t d : {3u, 7u, 9u, 13u}) EXPECT_EQ(rotated_surface_checks(d).size(), (d * d - 1) / 2);
    EXPECT_TRUE(rotated_surface_checks(1).empty());
}

// Rank over GF(2) of 0/1 rows.
size_t gf2_rank(std::vector<std::vector<uint8_t>> rows) {
    size_t rank = 0;
    const size_t cols = rows.empty() ? 0 : rows[0].size();
    for (size_t c = 0; c < cols && rank < rows.size(); ++c) {
        size_t pivot = rank;
        while (pivot < rows.size() && !rows[pivot][c]) ++pivot;
        if (pivot == rows.size()) continue;
        std::swap(rows[rank], rows[pivot]);
        for (size_t r = 0; r < rows.size(); ++r)
            if (r != rank && rows[r][c])
                for (size_t k = 0; k < cols; ++k) rows[r][k] ^= rows[rank][k];
        ++rank;
    }
    return rank;
}

bool commutes_with_every_check(const CheckList& checks, const std::vector<uint8_t>& op) {
    for (const auto& check : checks) {
        uint8_t parity = 0;
        for (uint32_t q : check) parity ^= op[q];
        if (parity) return false;
    }
    return true;
}

// The failure test is a verified logical of the layout: every local operator
// (a clipped 2x2 cell or a single qubit) that commutes with every check is
// a trivial residual and never counts; row 0 commutes with every check and
// counts; and those together span every residual that reproduces the
// syndrome, so each such residual is classified.
TEST(LerCode, FailureCountsExactlyTheNonTrivialLogical) {
    for (uint32_t d : {3u, 5u, 7u, 9u, 13u}) {
        SCOPED_TRACE(d);
        const CheckList checks = rotated_surface_checks(d);
        const size_t n = size_t{d} * d;
        const std::vector<uint8_t> none(n, 0);
        std::vector<std::vector<uint8_t>> trivial;
        const auto consider = [&](const std::vector<uint32_t>& support) {
            std::vector<uint8_t> op(n, 0);
            for (uint32_t q : support) op[q] = 1;
            if (support.empty() || !commutes_with_every_check(checks, op)) return;
            EXPECT_FALSE(ler_logical_failure(none, op, d));
            trivial.push_back(op);
        };
        for (int64_t r = -1; r < d; ++r)
            for (int64_t c = -1; c < d; ++c) consider(rotated_cell(d, r, c));
        for (uint32_t q = 0; q < n; ++q) consider({q});

        std::vector<uint8_t> row0(n, 0);
        for (uint32_t q = 0; q < d; ++q) row0[q] = 1;
        ASSERT_TRUE(commutes_with_every_check(checks, row0));
        EXPECT_TRUE(ler_logical_failure(none, row0, d));
        EXPECT_TRUE(ler_logical_failure(row0, none, d));  // the correction's side counts the same

        std::vector<std::vector<uint8_t>> rows(checks.size(), std::vector<uint8_t>(n, 0));
        for (size_t c = 0; c < checks.size(); ++c)
            for (uint32_t q : checks[c]) rows[c][q] = 1;
        const size_t kernel_dim = n - gf2_rank(rows);
        const size_t trivial_rank = gf2_rank(trivial);
        EXPECT_EQ(trivial_rank + 1, kernel_dim);
        trivial.push_back(row0);
        EXPECT_EQ(gf2_rank(trivial), kernel_dim);
    }
    // The old test on row 0 counted the left boundary operator {0, d} as a failure.
    std::vector<uint8_t> left(25, 0);
    left[0] = left[5] = 1;
    EXPECT_FALSE(ler_logical_failure(std::vector<uint8_t>(25, 0), left, 5));
    EXPECT_EQ(ler_logical_test_qubits(5), (std::vector<uint32_t>{0, 5, 10, 15}));
}

TEST(LerCode, ErrorThresholds) {
    EXPECT_EQ(ler_error_threshold(0.0), 0u);
    EXPECT_EQ(ler_error_threshold(0.5), uint64_t{1} << 63);
    EXPECT_EQ(ler_error_threshold(0.25), uint64_t{1} << 62);
    EXPECT_FALSE(ler_error_threshold(1.0).has_value());
    EXPECT_FALSE(ler_error_threshold(2.0).has_value());
    EXPECT_EQ(ler_error_threshold(std::nextafter(1.0, 0.0)), ~uint64_t{0} - 2047);
}

TEST(LerScenarios, DeterministicForOneNetworkAndRatesOnTheShotGrid) {
    const LerScenario scenario{"t", 0.04, 5, 200};
    const auto a = run_ler_scenario(scenario, seeded_network(1));
    const auto b = run_ler_scenario(scenario, seeded_network(1));
    const auto c = run_ler_scenario(scenario, seeded_network(2));
    ASSERT_TRUE(a.ok() && b.ok() && c.ok());
    EXPECT_EQ(a.value().vornex_ler, b.value().vornex_ler);
    EXPECT_EQ(a.value().pymatching_ler, b.value().pymatching_ler);
    EXPECT_EQ(a.value().pymatching_ler, c.value().pymatching_ler);  // the matching side ignores the network
    for (double r : {a.value().vornex_ler, a.value().pymatching_ler}) {
        EXPECT_GE(r, 0.0);
        EXPECT_LE(r, 1.0);
        EXPECT_DOUBLE_EQ(r * 200, std::round(r * 200));
    }
    EXPECT_GT(a.value().pymatching_ler, 0.0);  // p = 0.04 at d = 5 does fail sometimes

    const auto quiet = run_ler_scenario(kLerScenarios[3], seeded_network(3));
    ASSERT_TRUE(quiet.ok());
    EXPECT_EQ(quiet.value().pymatching_ler, 0.0);
    EXPECT_EQ(quiet.value().vornex_ler, 0.0);
    EXPECT_EQ(run_ler_scenario({"none", 0.01, 5, 0}, seeded_network(3)).value().pymatching_ler, 0.0);
}

TEST(LerScenarios, ResultsText) {
    const auto text = ler_results_text({{"Empty syndrome (d=5)", 5, 0.0, 100, 0.0, 0.25}});
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(text.value(),
              "[\n"
              "  {\n"
              "    \"name\": \"Empty syndrome (d=5)\",\n"
              "    \"distance\": 5,\n"
              "    \"phys_error\": 0.0,\n"
              "    \"shots\": 100,\n"
              "    \"vornex_ler\": 0.0,\n"
              "    \"pymatching_ler\": 0.25\n"
              "  }\n"
              "]");
    const auto bad = ler_results_text({{"\xff", 5, 0.0, 1, 0.0, 0.0}});
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().kind, ErrorKind::Runtime);
    EXPECT_TRUE(bad.error().message.starts_with("JSON error: "));
}

}  // namespace
}  // namespace vornex
