#include "learned/hybrid_decoder.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "base/wyrand.h"
#include "evaluation/ler_benchmark.h"
#include "learned/gnn_trainer.h"
#include "matching/parity_check.h"

namespace vornex {
namespace {

using Bytes = std::vector<uint8_t>;

GNNPredecoder seeded_network(uint64_t seed) {
    Wyrand rng(seed);
    return GNNPredecoder(10, 8, 8, 2, rng);
}

Bytes random_syndrome(const CheckList& checks, size_t n_qubits, Wyrand& rng, double p) {
    Bytes error(n_qubits);
    for (auto& e : error) e = rng.next_unit() < p;
    Bytes s(checks.size());
    for (size_t c = 0; c < checks.size(); ++c)
        for (uint32_t q : checks[c]) s[c] ^= error[q];
    return s;
}

TEST(HybridDecoder, ZeroSyndromeAndLengthMessage) {
    const CheckList checks = rotated_surface_checks(5);
    auto dec = HybridDecoder::create(checks, std::nullopt, {}, 8, 2).value();
    EXPECT_EQ(dec.n_qubits(), 25u);
    EXPECT_EQ(dec.n_checks(), 12u);
    const Bytes zero(12, 0);
    EXPECT_EQ(dec.decode_hybrid(zero).value(), Bytes(25, 0));
    EXPECT_EQ(dec.decode_heuristic(zero).value(), Bytes(25, 0));
    EXPECT_EQ(dec.decode_standard(zero).value(), Bytes(25, 0));
    const auto bad = dec.decode_hybrid(Bytes(11, 0));
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().message, "Syndrome length 11 != n_checks 12");
    EXPECT_EQ(HybridDecoder::create({}, std::nullopt, {}, 4, 1).value().n_qubits(), 1u);
}

TEST(HybridDecoder, SeedFixesTheStartingNetwork) {
    const CheckList checks = rotated_surface_checks(5);
    Wyrand rng(8);
    const Bytes s = random_syndrome(checks, 25, rng, 0.1);
    const DetectorGraph graph = DetectorGraph::create(checks, s, {}, 25).value();
    auto weights = [&](std::optional<uint64_t> seed) {
        return HybridDecoder::create(checks, 25, {}, 8, 2, seed).value().network().forward(graph).value();
    };
    EXPECT_EQ(weights(5), weights(5));
    EXPECT_NE(weights(5), weights(6));
    EXPECT_NE(weights(std::nullopt), weights(std::nullopt));
}

using Pairs = std::vector<std::pair<uint32_t, double>>;

// The network's weights on the graph of `s`, keyed by qubit.
Pairs network_pairs(const GNNPredecoder& net, const CheckList& checks, size_t nq, const Bytes& s) {
    const DetectorGraph graph = DetectorGraph::create(checks, s, {}, nq).value();
    const auto w = net.forward(graph).value();
    Pairs pairs;
    for (size_t k = 0; k < w.size(); ++k) pairs.emplace_back(graph.edge_qubit_id()[k], w[k]);
    return pairs;
}

// Heuristic weights of the edges of `s`: by the number of fired checks of
// the qubit, `none`, `one` or `two`.
Pairs heuristic_pairs(const CheckList& checks, size_t nq, const Bytes& s, double none, double one, double two) {
    const DetectorGraph graph = DetectorGraph::create(checks, s, {}, nq).value();
    Pairs pairs;
    for (uint32_t q : graph.edge_qubit_id()) {
        int fired = 0;
        for (const auto& c : checks)
            for (uint32_t r : c) fired += r == q && s[&c - checks.data()] == 1;
        pairs.emplace_back(q, fired == 0 ? none : fired == 1 ? one : two);
    }
    return pairs;
}

// Each decode equals the matching decode with the weights it should send,
// and on these shots the weights change the decode: the network's weights
// against unit weights and against no weights, weights of a graph updated
// for each syndrome against the first syndrome's, the heuristic against its
// inverse. A decoder that ignored the network, sent nothing, kept a stale
// graph or inverted the heuristic fails here.
TEST(HybridDecoder, WeightsMatchFreshGraphsAndPlainHeuristic) {
    const CheckList checks = rotated_surface_checks(7);
    const size_t nq = 49;
    auto dec = HybridDecoder::create(checks, nq, {}, seeded_network(4)).value();
    auto reference = SparseBlossomDecoder::create(checks, nq).value();
    const GNNPredecoder net = seeded_network(4);
    Wyrand rng(99);
    const Bytes first = random_syndrome(checks, nq, rng, 0.06);
    const Pairs stale = network_pairs(net, checks, nq, first);
    ASSERT_EQ(dec.decode_hybrid(first).value(), reference.decode_with_weights(first, stale).value());
    int unlike_unit = 0, unlike_plain = 0, unlike_stale = 0, unlike_inverse = 0;
    for (int shot = 0; shot < 200; ++shot) {
        const Bytes s = random_syndrome(checks, nq, rng, 0.06);
        const Pairs pairs = network_pairs(net, checks, nq, s);
        const Bytes hybrid = dec.decode_hybrid(s).value();
        EXPECT_EQ(hybrid, reference.decode_with_weights(s, pairs).value());
        EXPECT_TRUE(correction_satisfies(checks, nq, s, hybrid));
        Pairs unit = pairs;
        for (auto& [q, w] : unit) w = 1.0;
        unlike_unit += hybrid != reference.decode_with_weights(s, unit).value();
        unlike_plain += hybrid != reference.decode(s).value();
        unlike_stale += hybrid != reference.decode_with_weights(s, stale).value();

        const Bytes heuristic = dec.decode_heuristic(s).value();
        EXPECT_EQ(heuristic, reference.decode_with_weights(s, heuristic_pairs(checks, nq, s, 1.0, 3.0, 10.0)).value());
        unlike_inverse +=
            heuristic != reference.decode_with_weights(s, heuristic_pairs(checks, nq, s, 10.0, 3.0, 1.0)).value();
        EXPECT_EQ(dec.decode_standard(s).value(), reference.decode(s).value());
    }
    EXPECT_GT(unlike_unit, 0);
    EXPECT_GT(unlike_plain, 0);
    EXPECT_GT(unlike_stale, 0);
    EXPECT_GT(unlike_inverse, 0);
}

TEST(HybridDecoder, BatchRowsAreSingleDecodes) {
    const CheckList checks = rotated_surface_checks(5);
    auto dec = HybridDecoder::create(checks, 25, {}, seeded_network(8)).value();
    Wyrand rng(5);
    Bytes rows;
    for (int i = 0; i < 20; ++i) {
        const Bytes s = random_syndrome(checks, 25, rng, 0.08);
        rows.insert(rows.end(), s.begin(), s.end());
    }
    const Bytes hybrid = dec.batch_decode_hybrid(rows, 20).value();
    const Bytes standard = dec.batch_decode_standard(rows, 20).value();
    ASSERT_EQ(hybrid.size(), 500u);
    for (size_t i = 0; i < 20; ++i) {
        const std::span<const uint8_t> s(rows.data() + 12 * i, 12);
        EXPECT_EQ(Bytes(hybrid.begin() + 25 * i, hybrid.begin() + 25 * (i + 1)), dec.decode_hybrid(s).value());
        EXPECT_EQ(Bytes(standard.begin() + 25 * i, standard.begin() + 25 * (i + 1)), dec.decode_standard(s).value());
    }
    EXPECT_TRUE(dec.batch_decode_hybrid({}, 0).value().empty());
}

TEST(HybridDecoder, TrainingChangesOnlyTheNetwork) {
    const CheckList checks = rotated_surface_checks(5);
    auto dec = HybridDecoder::create(checks, 25, {}, seeded_network(2)).value();
    const GNNPredecoder before = dec.network();
    EXPECT_FALSE(dec.has_graph_cache());
    const auto loss = dec.train(20, 2, 0.1);
    ASSERT_TRUE(loss.ok());
    EXPECT_FALSE(dec.has_graph_cache());
    EXPECT_EQ(dec.network().learning_rate(), before.learning_rate());

    // The same training as the trainer's on an equal network.
    GNNPredecoder twin = before;
    EXPECT_EQ(GNNTrainer(checks, 25, 0.1).train(twin, 20, 2).value(), loss.value());
    EXPECT_TRUE(twin == dec.network());

    ASSERT_TRUE(dec.train_bp(10, 1, 0.05, 10).ok());
    const std::string path = ::testing::TempDir() + "hybrid_weights.safetensors";
    ASSERT_TRUE(dec.save_weights(path).ok());
    auto other = HybridDecoder::create(checks, 25, {}, seeded_network(77)).value();
    ASSERT_TRUE(other.load_weights(path).ok());
    EXPECT_TRUE(other.network() == dec.network());
    std::remove(path.c_str());
}

}  // namespace
}  // namespace vornex
