#include "learned/learned_matching.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "base/wyrand.h"
#include "dem/dem_reader.h"
#include "learned/gnn_weights.h"
#include "matching/matching_decoder.h"
#include "matching/sparse/sparse_matching.h"

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

// Two lines of six detectors (0-5 and 6-11) with boundary edges at their
// ends, and random decomposed mechanisms flipping an edge of each line
// together, as a circuit's Y errors do.
DetectorErrorModel correlated_model(uint64_t seed) {
    Wyrand rng(seed);
    std::string text;
    for (int line = 0; line < 2; ++line) {
        const int base = 6 * line;
        text += "error(0.05) D" + std::to_string(base) + (line == 0 ? " L0\n" : "\n");
        for (int d = 0; d < 5; ++d)
            text += "error(0.04) D" + std::to_string(base + d) + " D" + std::to_string(base + d + 1) + "\n";
        text += "error(0.03) D" + std::to_string(base + 5) + "\n";
    }
    for (int k = 0; k < 6; ++k) {
        const int a = static_cast<int>(rng.next_u64() % 5), b = 6 + static_cast<int>(rng.next_u64() % 5);
        text += "error(0.02) D" + std::to_string(a) + " D" + std::to_string(a + 1) + " ^ D" + std::to_string(b) +
                " D" + std::to_string(b + 1) + "\n";
    }
    return read_detector_error_model(text).value();
}

// Fills every parameter of a network of these sizes with seeded values in
// [-1, 1], through a weights file.
void randomise(LearnedMatchingDecoder& dec, size_t hidden, size_t layers, uint64_t seed) {
    Wyrand rng(seed);
    std::vector<std::vector<double>> values;
    std::vector<F64Tensor> tensors;
    size_t in = kEdgeInputCount;
    for (size_t l = 0; l <= layers; ++l) {
        const size_t out = l < layers ? hidden : 1;
        const std::string name = l < layers ? "hidden." + std::to_string(l) : "output";
        for (auto [suffix, shape] : {std::pair{".weight", std::vector<uint64_t>{out, in}},
                                     std::pair{".bias", std::vector<uint64_t>{out}}}) {
            values.emplace_back(suffix == std::string(".weight") ? out * in : out);
            for (double& v : values.back()) v = 2 * rng.next_unit() - 1;
        }
        tensors.push_back({name + ".weight", {out, in}, values[values.size() - 2]});
        tensors.push_back({name + ".bias", {out}, values.back()});
        in = out;
    }
    const std::string path = ::testing::TempDir() + "learned_random_" + std::to_string(seed) + ".safetensors";
    ASSERT_TRUE(write_safetensors(path, tensors).ok());
    ASSERT_TRUE(dec.load_weights(path).ok());
    std::remove(path.c_str());
}

// Plain reference of one shot's weights: every edge's inputs from scratch
// (neighbours and partners found by scanning the model), the network on
// every edge with an explained partner, the prior elsewhere.
std::vector<double> reference_weights(const LearnedMatchingDecoder& dec, const DetectorErrorModel& model,
                                      const Bytes& events) {
    const DemGraph& g = dec.dem_graph();
    const auto fired = [&](uint32_t d) { return d != kDemBoundary && events[d] != 0; };
    const auto fired_neighbours = [&](uint32_t d) {
        double n = 0;
        for (const DemEdge& e : g.edges)
            if (e.v != kDemBoundary && (e.u == d || e.v == d)) n += fired(e.u == d ? e.v : e.u);
        return n;
    };
    const auto edge_of = [&](std::vector<uint32_t> dets) {
        for (size_t k = 0; k < g.edges.size(); ++k)
            if (g.edges[k].u == dets[0] && g.edges[k].v == (dets.size() == 2 ? dets[1] : kDemBoundary)) return k;
        return g.edges.size();
    };
    // Partners: edges flipped by one column with the edge, each once.
    std::vector<std::vector<size_t>> partners(g.edges.size());
    for (size_t c = 0; c < model.num_errors(); ++c) {
        std::vector<size_t> parts;
        std::vector<uint32_t> dets;
        for (uint32_t t : model.targets_of(c)) {
            if (t == kSeparatorTarget) {
                parts.push_back(edge_of(dets));
                dets.clear();
            } else if (is_detector_target(t)) {
                dets.push_back(t);
            }
        }
        parts.push_back(edge_of(dets));
        for (size_t a : parts)
            for (size_t b : parts)
                if (a != b && std::find(partners[a].begin(), partners[a].end(), b) == partners[a].end())
                    partners[a].push_back(b);
    }
    const auto explained = [&](const DemEdge& e) { return fired(e.u) && (e.v == kDemBoundary || fired(e.v)); };
    const auto clean = [&](const DemEdge& e) {
        return e.v == kDemBoundary ? fired_neighbours(e.u) == 0
                                   : fired_neighbours(e.u) == 1 && fired_neighbours(e.v) == 1;
    };
    EdgeResidualNetwork::Trace trace;
    std::vector<double> weights(g.edges.size());
    for (size_t k = 0; k < g.edges.size(); ++k) {
        std::vector<double> row(kEdgeInputCount);
        for (size_t p : partners[k]) {
            row[kExplainedPartners] += explained(g.edges[p]);
            row[kCleanPartners] += explained(g.edges[p]) && clean(g.edges[p]);
        }
        row[kPriorWeight] = g.edges[k].weight / 10.0;
        row[kBoundaryEdge] = g.edges[k].v == kDemBoundary;
        row[kPartnerCount] = static_cast<double>(partners[k].size()) / 10.0;
        weights[k] = row[kExplainedPartners] > 0 ? dec.corrected_weight(k, dec.network().evaluate(row, trace))
                                                 : g.edges[k].weight;
    }
    return weights;
}

// The event-local path equals the plain full pass: the same weight on
// every edge of every shot, and the same predictions as matching a graph
// built afresh from the reference weights, shot after shot on one
// workspace (so nothing of a shot leaks into the next).
TEST(LearnedMatching, EventLocalPathEqualsFullPass) {
    for (uint64_t seed : {1, 2, 3}) {
        const DetectorErrorModel model = correlated_model(seed);
        auto dec = LearnedMatchingDecoder::from_model(model, 8, 2, seed).value();
        randomise(dec, 8, 2, seed);
        auto ws = dec.make_workspace();
        Wyrand rng(seed * 7);
        int corrected = 0;
        for (int shot = 0; shot < 300; ++shot) {
            Bytes events(dec.n_detectors());
            for (auto& e : events) e = rng.next_unit() < 0.2;
            const auto expected = reference_weights(dec, model, events);
            ASSERT_EQ(dec.edge_weights(events).value(), expected) << "shot " << shot;
            for (size_t k = 0; k < expected.size(); ++k) corrected += expected[k] != dec.prior_weights()[k];

            // Rounded as the decoder's matcher rounds every shot: by the
            // scale that takes the largest prior to the engine's full scale.
            std::vector<sparse::GraphEdge> edges;
            const double top = *std::max_element(dec.prior_weights().begin(), dec.prior_weights().end());
            const double scale = static_cast<double>(sparse::kDiscreteWeightScale) / top;
            std::vector<int64_t> discrete(expected.size());
            for (size_t k = 0; k < expected.size(); ++k) discrete[k] = std::llround(expected[k] * scale);
            for (size_t k = 0; k < expected.size(); ++k) {
                const DemEdge& e = dec.dem_graph().edges[k];
                const auto obs = dec.dem_graph().observables_of(k);
                edges.push_back({e.u, e.v == kDemBoundary ? sparse::kBoundary : e.v, discrete[k],
                                 sparse::ObsMask{obs.empty() ? 0u : 1u}, static_cast<uint32_t>(k)});
            }
            const auto graph = sparse::build_matching_graph(dec.n_detectors(), edges).value();
            std::vector<sparse::NodeId> fired;
            for (size_t d = 0; d < events.size(); ++d)
                if (events[d]) fired.push_back(static_cast<sparse::NodeId>(d));
            sparse::SparseMatching matching;
            ASSERT_TRUE(sparse::sparse_match(graph, fired, matching).ok());
            Bytes obs(1);
            ASSERT_TRUE(dec.predict_into(events, obs, ws).ok());
            EXPECT_EQ(obs[0], matching.observables & 1) << "shot " << shot;
        }
        EXPECT_GT(corrected, 100);  // the network corrects many edges, not a few
    }
}

// The untrained network corrects nothing, and the prior path is plain
// matching: both predict what MatchingDecoder predicts on every shot.
TEST(LearnedMatching, UntrainedAndPriorPathsArePlainMatching) {
    const DetectorErrorModel model = line_model();
    auto dec = LearnedMatchingDecoder::from_model(model, 8, 1, 2).value();
    const auto plain = MatchingDecoder::from_model(model).value();
    Bytes rows;
    for (int mask = 0; mask < 32; ++mask)
        for (int d = 0; d < 5; ++d) rows.push_back((mask >> d) & 1);
    const auto expected = plain.predict_observables(rows, 32, false, false).value();
    EXPECT_NE(expected, Bytes(32, 0));
    EXPECT_EQ(dec.predict_observables(rows, 32, false, true, true).value(), expected);
    EXPECT_EQ(dec.predict_observables(rows, 32, false, true).value(), expected);
    EXPECT_FALSE(dec.edge_weights(Bytes(4)).ok());
    // On a model with decomposed errors the untrained network is reached
    // (partners are explained) and still corrects nothing.
    auto correlated = LearnedMatchingDecoder::from_model(correlated_model(4), 8, 2, 4).value();
    const std::vector<double> priors(correlated.prior_weights().begin(), correlated.prior_weights().end());
    Wyrand rng(9);
    for (int shot = 0; shot < 50; ++shot) {
        Bytes events(correlated.n_detectors());
        for (auto& e : events) e = rng.next_unit() < 0.3;
        EXPECT_EQ(correlated.edge_weights(events).value(), priors);
    }
}

// Samples flip every edge of a mechanism together and fire exactly the
// detectors of the flipped edges; observables follow the whole mechanism.
TEST(LearnedMatching, MechanismSamplesMoveDecomposedEdgesTogether) {
    const DetectorErrorModel model =
        read_detector_error_model("error(0.3) D0 D1 ^ D2 L0\nerror(0.2) D1 D2\nerror(0.1) D0 L1\n").value();
    const DemGraph graph = build_dem_graph(model).value();
    const MechanismEdges mechanisms = MechanismEdges::create(model, graph);
    ASSERT_EQ(mechanisms.n_mechanisms(), 3u);
    ASSERT_EQ(mechanisms.edges_of(0).size(), 2u);
    Wyrand rng(5);
    Bytes events(3), flips(graph.edges.size(), 0);
    std::vector<uint32_t> touched;
    int together = 0;
    for (int s = 0; s < 2000; ++s) {
        const auto observables = mechanisms.draw(rng, graph, events, flips, touched);
        const uint8_t a = flips[mechanisms.edges_of(0)[0]], b = flips[mechanisms.edges_of(0)[1]];
        EXPECT_EQ(a, b);
        together += a;
        Bytes expected(3, 0);
        for (size_t k = 0; k < graph.edges.size(); ++k)
            if (flips[k]) {
                expected[graph.edges[k].u] ^= 1;
                if (graph.edges[k].v != kDemBoundary) expected[graph.edges[k].v] ^= 1;
            }
        EXPECT_EQ(events, expected);
        EXPECT_EQ(observables & 1, a);
        EXPECT_EQ((observables >> 1) & 1, flips[mechanisms.edges_of(2)[0]]);
        for (uint32_t e : touched) flips[e] = 0;
        touched.clear();
    }
    EXPECT_NEAR(together / 2000.0, 0.3, 0.04);
}

TEST(LearnedMatching, RefusalTextsAreExact) {
    const auto model = line_model();
    const auto too_big = LearnedMatchingDecoder::from_model(model, 5000, 2, 0);
    ASSERT_FALSE(too_big.ok());
    EXPECT_EQ(too_big.error().kind, ErrorKind::Value);
    EXPECT_EQ(too_big.error().message,
              "LearnedMatchingDecoder takes hidden_size up to 4096 and n_layers up to 64; got 5000 and 2");
    EXPECT_EQ(LearnedMatchingDecoder::from_model(model, 8, 65, 0).error().message,
              "LearnedMatchingDecoder takes hidden_size up to 4096 and n_layers up to 64; got 8 and 65");
    const auto wide = read_detector_error_model("error(0.1) D0 L70").value();
    EXPECT_EQ(LearnedMatchingDecoder::from_model(wide, 8, 1, 0).error().message,
              "LearnedMatchingDecoder supports at most 64 observables; the model has 71");
    const auto dec = LearnedMatchingDecoder::from_model(model, 8, 1, 0).value();
    const auto short_events = dec.edge_weights(Bytes{0, 1, 0});
    ASSERT_FALSE(short_events.ok());
    EXPECT_EQ(short_events.error().kind, ErrorKind::Value);
    EXPECT_EQ(short_events.error().message, "detection events have 3 entries, expected 5");
}

}  // namespace
}  // namespace vornex
