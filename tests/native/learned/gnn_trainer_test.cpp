#include "learned/gnn_trainer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "bp/bp_osd_reference.h"
#include "evaluation/ler_benchmark.h"
#include "matching/blossom.h"

namespace vornex {
namespace {

GNNPredecoder network(uint64_t seed, size_t hidden = 8, size_t layers = 2) {
    Wyrand rng(seed);
    return GNNPredecoder(DetectorGraph::kNodeFeatureDim, DetectorGraph::kEdgeFeatureDim, hidden, layers, rng);
}

TEST(GnnTrainerSamples, ArithmeticPatternAndSyndromes) {
    const CheckList checks = rotated_surface_checks(5);
    const GNNTrainer trainer(checks, 25, 0.1);
    for (uint64_t s = 0; s < 40; ++s) {
        const auto error = trainer.sample_error(s);
        ASSERT_EQ(error.size(), 25u);
        for (uint64_t q = 0; q < 25; ++q)
            EXPECT_EQ(error[q], ((9301 * s + 49297 * q) % 233280) / 233280.0 < 0.1) << s << " " << q;
        const auto syndrome = trainer.syndrome_of(error);
        for (size_t c = 0; c < checks.size(); ++c) {
            int parity = 0;
            for (uint32_t q : checks[c]) parity ^= error[q];
            EXPECT_EQ(syndrome[c], parity);
        }
    }
    EXPECT_EQ(trainer.sample_error(0)[0], 1);  // x = 0

    // Listed indices at or beyond n_qubits carry no error instead of reading past it.
    const GNNTrainer short_code({{0, 1}, {1, 7}}, 2, 1.0);
    EXPECT_EQ(short_code.syndrome_of(short_code.sample_error(0)), (std::vector<uint8_t>{0, 1}));
    const auto set = short_code.matching_dataset(3);
    ASSERT_TRUE(set.ok());
    EXPECT_EQ(set.value().graphs.size(), 3u);
}

TEST(GnnTrainerSamples, MatchingTargetsAgainstPlainReference) {
    const CheckList checks = rotated_surface_checks(5);
    const GNNTrainer trainer(checks, 25, 0.08);
    const auto set = trainer.matching_dataset(30);
    ASSERT_TRUE(set.ok());
    const auto blossom = build_blossom_graph(checks, 25, std::nullopt);
    std::vector<std::set<uint32_t>> nb(25);
    for (const auto& c : checks)
        for (uint32_t a : c)
            for (uint32_t b : c)
                if (a != b) nb[a].insert(b);
    bool some_one = false, some_quarter = false;
    for (uint64_t s = 0; s < 30; ++s) {
        const auto syndrome = trainer.syndrome_of(trainer.sample_error(s));
        const auto correction = blossom_decode(blossom, syndrome).value();
        const auto& graph = set.value().graphs[s];
        const auto& targets = set.value().targets[s];
        ASSERT_EQ(targets.size(), graph.n_edges());
        for (size_t k = 0; k < targets.size(); ++k) {
            const uint32_t q = graph.edge_qubit_id()[k];
            double expected = 0.0;
            if (correction[q])
                expected = 1.0;
            else
                for (uint32_t r : nb[q])
                    if (correction[r]) expected = 0.25;
            EXPECT_EQ(targets[k], expected);
            some_one |= expected == 1.0;
            some_quarter |= expected == 0.25;
        }
    }
    EXPECT_TRUE(some_one && some_quarter);

    const auto quiet = GNNTrainer(checks, 25, 0.0).matching_dataset(5);
    ASSERT_TRUE(quiet.ok());
    for (const auto& t : quiet.value().targets)
        for (double v : t) EXPECT_EQ(v, 0.0);
}

TEST(GnnTrainerSamples, BpTargetsAreFlipProbabilities) {
    const CheckList checks = rotated_surface_checks(5);
    const GNNTrainer trainer(checks, 25, 0.05);
    const auto set = trainer.bp_dataset(10, 7);
    ASSERT_TRUE(set.ok());
    auto bp = bp_osd_reference::BpOsdDecoder::create(checks, 25, 0.05).value();
    for (uint64_t s = 0; s < 10; ++s) {
        const auto llr = bp.bp_decode(trainer.syndrome_of(trainer.sample_error(s)), 7).value();
        const auto& graph = set.value().graphs[s];
        for (size_t k = 0; k < graph.n_edges(); ++k) {
            const double t = set.value().targets[s][k];
            EXPECT_DOUBLE_EQ(t, 1.0 / (std::exp(std::clamp(llr[graph.edge_qubit_id()[k]], -100.0, 100.0)) + 1.0));
            EXPECT_GE(t, 0.0);
            EXPECT_LE(t, 1.0);
        }
    }
}

TEST(GnnTrainerBackoff, KeepsTheBestOfSixHalvedRates) {
    const GNNTrainer trainer(rotated_surface_checks(5), 25, 0.1);
    const TrainingSet set = trainer.matching_dataset(12).value();
    GNNPredecoder net = network(3);
    net.set_learning_rate(0.05);
    const GNNPredecoder start = net;

    // Plain reference: every attempt from the same start, keep the strict minimum.
    double best = start.loss(set.graphs, set.targets).value();
    GNNPredecoder expected = start;
    double lr = 0.05;
    for (int a = 0; a < 6; ++a, lr /= 2) {
        GNNPredecoder attempt = start;
        attempt.set_learning_rate(lr);
        ASSERT_TRUE(attempt.train(std::span<const DetectorGraph>(set.graphs), set.targets, 3).ok());
        const double l = attempt.loss(set.graphs, set.targets).value();
        if (std::isfinite(l) && l < best) best = l, expected = attempt;
    }
    expected.set_learning_rate(0.05);

    const auto got = train_with_backoff(net, set, 3);
    ASSERT_TRUE(got.ok());
    EXPECT_EQ(got.value(), best);
    EXPECT_TRUE(net == expected);
    EXPECT_EQ(net.learning_rate(), 0.05);
    EXPECT_EQ(net.l2_lambda(), start.l2_lambda());
}

TEST(GnnTrainerBackoff, DeterministicAndEmptyDatasets) {
    const GNNTrainer trainer(rotated_surface_checks(5), 25, 0.1);
    GNNPredecoder a = network(11), b = network(11);
    const auto la = trainer.train(a, 10, 2), lb = trainer.train(b, 10, 2);
    ASSERT_TRUE(la.ok() && lb.ok());
    EXPECT_EQ(la.value(), lb.value());
    EXPECT_TRUE(a == b);

    GNNPredecoder c = network(5);
    const GNNPredecoder before = c;
    const auto none = trainer.train_bp(c, 0, 4, 20);
    ASSERT_TRUE(none.ok());
    EXPECT_EQ(none.value(), 0.0);
    EXPECT_TRUE(c == before);

    const auto bp = trainer.train_bp(c, 8, 2, 10);
    ASSERT_TRUE(bp.ok());
    EXPECT_TRUE(std::isfinite(bp.value()));
}

}  // namespace
}  // namespace vornex
