// The score that picks between the combined decoder's corrections, on a
// model whose errors give each case its own edges; the capped decoder at
// radius 0 against the same three matchings built by hand.
#include "matching/belief_correlated.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "base/wyrand.h"
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

// Detectors on a strip of `width` per round, with space and time edges and
// errors flipping a space edge and a time edge together (as hook errors do,
// two kinds, so that an edge is implied by two others), probabilities
// jittered so that weights seldom tie.
std::string strip_model(uint32_t width, uint32_t rounds, Wyrand& rng) {
    std::ostringstream text;
    auto p = [&](double base) { return base * (0.5 + rng.next_unit()); };
    auto det = [&](uint32_t r, uint32_t i) { return " D" + std::to_string(r * width + i); };
    for (uint32_t r = 0; r < rounds; ++r) {
        for (uint32_t i = 0; i < width; ++i) {
            text << "error(" << p(0.02) << ")" << det(r, i) << (i + 1 < width ? det(r, i + 1) : " L0") << "\n";
            if (i == 0) text << "error(" << p(0.02) << ")" << det(r, 0) << "\n";
            if (r + 1 == rounds) continue;
            text << "error(" << p(0.04) << ")" << det(r, i) << det(r + 1, i) << "\n";
            if (i + 1 == width) continue;
            text << "error(" << p(0.002) << ")" << det(r, i) << det(r, i + 1) << " ^" << det(r, i + 1)
                 << det(r + 1, i + 1) << "\n";
            text << "error(" << p(0.0002) << ")" << det(r, i) << det(r + 1, i) << " ^" << det(r + 1, i)
                 << det(r + 1, i + 1) << "\n";
        }
    }
    return text.str();
}

TEST(BeliefCorrelatedDecoderTest, RadiusZeroIsTheThreeMatchingsOnTheEventFreeWeights) {
    Wyrand rng(7);
    auto dem = read_detector_error_model(strip_model(6, 6, rng));
    ASSERT_TRUE(dem.ok()) << dem.error().message;
    BpSettings bp;
    bp.method = BpMethod::ProductSum;
    bp.max_iterations = 10;
    auto made = BeliefCorrelatedDecoder::create(dem.value(), bp, 0);
    ASSERT_TRUE(made.ok()) << made.error().message;
    const BeliefCorrelatedDecoder& decoder = made.value();
    ASSERT_TRUE(decoder.capped());

    // By hand: correlated matching; the event-free weights as every edge's
    // override of the correlated graph, one pass and then the second pass
    // the correlations imply; the least score, first of 0, 2, 1 on a tie.
    auto correlated = MatchingDecoder::from_model(dem.value(), true);
    ASSERT_TRUE(correlated.ok());
    auto columns = matching_model_from(dem.value());
    ASSERT_TRUE(columns.ok());
    const CorrectionScore score = CorrectionScore::create(columns.value());
    const std::span<const double> free = decoder.belief().event_free_weights();
    ASSERT_EQ(free.size(), decoder.n_edges());

    BeliefCorrelatedDecoder::Workspace ws;
    EdgeCorrelations::Workspace implied_ws;
    CorrectionScore::Workspace score_ws;
    size_t choices[3] = {0, 0, 0};
    for (int shot = 0; shot < 400; ++shot) {
        std::vector<uint8_t> events(decoder.n_detectors(), 0);
        for (size_t j = 0; j < dem.value().num_errors(); ++j)
            if (rng.next_unit() < dem.value().probability[j])
                for (const uint32_t d : columns.value().column_detectors[j]) events[d] ^= 1;
        std::vector<sparse::NodeId> fired;
        for (uint32_t d = 0; d < events.size(); ++d)
            if (events[d]) fired.push_back(d);
        if (fired.empty()) continue;

        sparse::ObsMask flips[3] = {0, 0, 0};
        std::vector<uint32_t> edges[3];
        ASSERT_TRUE(correlated.value().match(fired, true, {}, flips[0], &edges[0]).ok());
        std::vector<EdgeWeight> weights;
        for (uint32_t e = 0; e < free.size(); ++e) weights.push_back({e, free[e]});
        const ExactMatcher& matcher = correlated.value().matcher();
        ASSERT_TRUE(matcher.match_edges(fired, edges[1], weights, &flips[1]).ok());
        correlated.value().correlations()->second_pass_weights(edges[1], weights, implied_ws, weights);
        ASSERT_TRUE(matcher.match_edges(fired, edges[2], weights, &flips[2]).ok());
        size_t best = 0;
        for (const size_t c : {size_t{2}, size_t{1}})
            if (score.score(edges[c], score_ws) < score.score(edges[best], score_ws)) best = c;

        sparse::ObsMask observables = 0;
        auto choice = decoder.predict_into(events, observables, ws);
        ASSERT_TRUE(choice.ok()) << choice.error().message;
        for (size_t c = 0; c < 3; ++c) {
            std::sort(edges[c].begin(), edges[c].end());
            std::sort(ws.edges[c].begin(), ws.edges[c].end());
            EXPECT_EQ(ws.edges[c], edges[c]) << "shot " << shot << ", correction " << c;
        }
        // The second pass's weights themselves: the decoder lists only the
        // lowered edges (the last entry of an edge is its weight).
        std::vector<double> lowered(free.begin(), free.end()), expected(free.begin(), free.end());
        for (const EdgeWeight& o : ws.weights) lowered[o.edge] = o.weight;
        for (const EdgeWeight& o : weights) expected[o.edge] = o.weight;
        EXPECT_EQ(lowered, expected) << "shot " << shot;
        EXPECT_EQ(static_cast<size_t>(choice.value()), best) << "shot " << shot;
        EXPECT_EQ(observables, flips[best]) << "shot " << shot;
        ++choices[best];
    }
    // Every correction is taken somewhere, so each path above was compared.
    EXPECT_GT(choices[0], 0u);
    EXPECT_GT(choices[1] + choices[2], 0u);
}

}  // namespace
}  // namespace vornex
