#include "learned/learned_matching.h"

#include <gtest/gtest.h>

#include <cmath>

#include "code/wyrand.h"
#include "dem/dem_reader.h"
#include "matching/matching_decoder.h"

namespace vornex {
namespace {

using Bytes = std::vector<uint8_t>;

// A line of five detectors, boundary edges at both ends, the left one on L0.
DetectorErrorModel line_model() {
    return read_detector_error_model(
               "error(0.1) D0 L0\nerror(0.1) D0 D1\nerror(0.05) D1 D2\nerror(0.02) D2 D3\nerror(0.02) D3 D4\n"
               "error(0.01) D4\n")
        .value();
}

// The matching weights of a shot are the log-odds of the network's own
// estimates on the shot's detector graph, edge for edge: the network's
// output, not the priors, reaches the matching.
TEST(LearnedMatching, WeightsAreTheNetworksEstimates) {
    auto dec = LearnedMatchingDecoder::from_model(line_model(), 8, 2, 7).value();
    ASSERT_EQ(dec.n_edges(), 6u);
    ASSERT_EQ(dec.detector_graph().n_nodes(), 6u);  // five detectors and the boundary
    ASSERT_EQ(dec.detector_graph().n_edges(), 6u);  // one network edge per model edge
    Wyrand rng(3);
    int unlike_prior = 0;
    for (int shot = 0; shot < 32; ++shot) {
        Bytes events(5);
        for (auto& e : events) e = rng.next_u64() & 1;
        Bytes nodes = events;
        nodes.push_back(0);
        DetectorGraph graph = dec.detector_graph();
        ASSERT_TRUE(graph.update_syndrome(nodes).ok());
        const auto estimates = dec.network().forward(graph).value();
        const auto weights = dec.edge_weights(events).value();
        for (size_t k = 0; k < estimates.size(); ++k) {
            const double p = std::clamp(estimates[k], 1e-6, 0.5);
            EXPECT_DOUBLE_EQ(weights[graph.edge_qubit_id()[k]], std::log((1 - p) / p));
        }
        unlike_prior += std::abs(weights[0] - std::log(0.9 / 0.1)) > 1e-9;
    }
    EXPECT_GT(unlike_prior, 0);
    EXPECT_FALSE(dec.edge_weights(Bytes(4)).ok());
}

// With the priors the path is plain exact matching: every shot of the line
// predicts what MatchingDecoder predicts on the same model.
TEST(LearnedMatching, PriorPathIsPlainMatching) {
    const DetectorErrorModel model = line_model();
    auto dec = LearnedMatchingDecoder::from_model(model, 8, 1, 2).value();
    const auto plain = MatchingDecoder::from_model(model).value();
    Bytes rows;
    for (int mask = 0; mask < 32; ++mask)
        for (int d = 0; d < 5; ++d) rows.push_back((mask >> d) & 1);
    const auto expected = plain.predict_observables(rows, 32, false, false).value();
    EXPECT_EQ(dec.predict_observables(rows, 32, false, true, true).value(), expected);
    EXPECT_NE(expected, Bytes(32, 0));
    // Learned predictions come row by row the same on the pool as alone.
    const auto learned = dec.predict_observables(rows, 32, false, true).value();
    auto ws = dec.make_workspace();
    for (size_t r = 0; r < 32; ++r) {
        Bytes obs(1);
        ASSERT_TRUE(dec.predict_into(std::span(rows).subspan(5 * r, 5), obs, ws).ok());
        EXPECT_EQ(obs[0], learned[r]);
    }
}

}  // namespace
}  // namespace vornex
