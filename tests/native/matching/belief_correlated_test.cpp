// The score that picks between the combined decoder's corrections, on a
// model whose errors give each case its own edges.
#include "matching/belief_correlated.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dem/dem_graph.h"
#include "dem/dem_reader.h"

namespace vornex {
namespace {

double w(double p) { return std::log((1 - p) / p); }

constexpr const char* kModel =
    "error(0.01) D0 D1 ^ D2 D3\n"        // a likely pair of two unlikely singles
    "error(0.001) D0 D1\n"
    "error(0.002) D2 D3\n"
    "error(0.3) D4 D5 ^ D6 D7\n"         // a pair dearer than its two singles
    "error(0.4) D4 D5\n"
    "error(0.4) D6 D7\n"
    "error(0.05) D8 D9 ^ D10 D11 ^ D10 D11\n"  // a component twice cancels
    "error(0.02) D10 D11 ^ D20 D21\n"
    "error(0.001) D12 D13\n"             // A B C: pairs AB and BC overlap at B
    "error(0.001) D14 D15\n"
    "error(0.001) D16 D17\n"
    "error(0.01) D12 D13 ^ D14 D15\n"
    "error(0.05) D14 D15 ^ D16 D17\n"
    "error(0.1) D18 D19 ^ D20 D21\n";    // edges no error flips alone

TEST(CorrectionScoreTest, PairsSingleErrorsAndCancellingComponentsOfAModel) {
    auto dem = read_detector_error_model(kModel);
    ASSERT_TRUE(dem.ok()) << dem.error().message;
    auto columns = matching_model_from(dem.value());
    ASSERT_TRUE(columns.ok()) << columns.error().message;
    // Graph-view edges in detector order.
    auto edge = [&](uint32_t u, uint32_t v) {
        const auto& ends = columns.value().edge_ends;
        for (uint32_t e = 0; e < ends.size(); ++e)
            if (ends[e] == std::pair(u, v)) return e;
        ADD_FAILURE() << "no edge " << u << "-" << v;
        return uint32_t{0};
    };
    const CorrectionScore score = CorrectionScore::create(columns.value());
    CorrectionScore::Workspace ws;
    auto of = [&](std::vector<uint32_t> edges) { return score.score(edges, ws); };
    const uint32_t e01 = edge(0, 1), e23 = edge(2, 3), e45 = edge(4, 5), e67 = edge(6, 7), e89 = edge(8, 9),
                   e1011 = edge(10, 11), a = edge(12, 13), b = edge(14, 15), c = edge(16, 17), e1819 = edge(18, 19),
                   e2021 = edge(20, 21);

    EXPECT_NEAR(of({e01, e23}), w(0.01), 1e-9);
    EXPECT_NEAR(of({e23, e01}), w(0.01), 1e-9);
    EXPECT_NEAR(of({e01}), w(0.001), 1e-9);
    EXPECT_NEAR(of({e45, e67}), 2 * w(0.4), 1e-9);
    // The twice-listed component leaves a single error on 8-9; 10-11 is only
    // ever flipped with another edge.
    EXPECT_NEAR(of({e89}), w(0.05), 1e-9);
    EXPECT_NEAR(of({e1011}), CorrectionScore::kNoSingleError, 1e-9);
    EXPECT_NEAR(of({e1011, e2021}), w(0.02), 1e-9);
    // Greedy by saving: BC saves more than AB, so A stays single.
    EXPECT_NEAR(of({a, b, c}), w(0.001) + w(0.05), 1e-9);
    EXPECT_NEAR(of({c, a, b}), w(0.001) + w(0.05), 1e-9);
    EXPECT_NEAR(of({a, b}), w(0.01), 1e-9);
    EXPECT_NEAR(of({e1819, e2021}), w(0.1), 1e-9);
    // An edge pairs once: 20-21 goes with 18-19 (the larger saving), 10-11 stays single.
    EXPECT_NEAR(of({e1011, e1819, e2021}), w(0.1) + CorrectionScore::kNoSingleError, 1e-9);
    EXPECT_EQ(of({}), 0.0);
}

}  // namespace
}  // namespace vornex
