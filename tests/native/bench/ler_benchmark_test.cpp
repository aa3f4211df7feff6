#include "bench/ler_benchmark.h"

#include <gtest/gtest.h>

#include <cmath>

#include "code/wyrand.h"

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
