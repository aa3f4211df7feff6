#include "matching/belief_matching.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

#include "base/wyrand.h"
#include "matching/sparse/sparse_reference.h"
#include "matching/sparse_edge_matcher.h"

namespace vornex {
namespace {

// A repetition-code memory over several rounds with data and measurement
// errors (graph edges) and, for every data error, a correlated column that
// also flips a measurement of another check: a hyperedge of four detectors
// decomposed into its two edges.

MatchingModel hyper_repetition_model(uint32_t d, uint32_t rounds, std::mt19937_64& rng, double scale) {
    MatchingModel m;
    const uint32_t checks = d - 1;
    m.n_detectors = checks * rounds;
    m.n_observables = 1;
    auto det = [&](uint32_t t, uint32_t i) { return t * checks + i; };
    auto rate = [&] { return scale * (0.5 + (rng() % 1000) / 1000.0); };
    auto add_edge = [&](uint32_t u, uint32_t v, bool observable) {
        m.edge_ends.emplace_back(u, v);
        m.edge_observables.push_back(observable ? std::vector<uint32_t>{0} : std::vector<uint32_t>{});
        return static_cast<uint32_t>(m.edge_ends.size() - 1);
    };
    auto add_column = [&](const std::vector<uint32_t>& edges) {
        std::vector<uint32_t> dets;
        for (uint32_t e : edges)
            for (uint32_t x : {m.edge_ends[e].first, m.edge_ends[e].second})
                if (x != kNoIndex) dets.push_back(x);
        m.column_detectors.push_back(dets);
        m.column_edges.push_back(edges);
        m.column_probability.push_back(rate());
    };
    std::vector<uint32_t> data_edges, meas_edges;
    for (uint32_t t = 0; t < rounds; ++t) {
        for (uint32_t q = 0; q < d; ++q) {
            const uint32_t u = q == 0 ? det(t, 0) : det(t, q - 1);
            const uint32_t v = q == 0 || q == d - 1 ? kNoIndex : det(t, q);
            data_edges.push_back(add_edge(u, v, q == 0));
        }
        for (uint32_t i = 0; i < checks; ++i)
            meas_edges.push_back(add_edge(det(t, i), t + 1 < rounds ? det(t + 1, i) : kNoIndex, false));
    }
    for (uint32_t e : data_edges) add_column({e});
    for (uint32_t e : meas_edges) add_column({e});
    for (uint32_t t = 0; t < rounds; ++t)
        for (uint32_t q = 0; q < d; ++q)
            add_column({data_edges[t * d + q], meas_edges[t * checks + (q + 1) % checks]});
    return m;
}

struct Shot {
    std::vector<uint8_t> syndrome;
    std::vector<uint8_t> observables;
};

Shot sample(const MatchingModel& m, std::mt19937_64& rng) {
    Shot s{std::vector<uint8_t>(m.n_detectors, 0), std::vector<uint8_t>(m.n_observables, 0)};
    std::uniform_real_distribution<double> u(0, 1);
    for (size_t j = 0; j < m.column_probability.size(); ++j) {
        if (u(rng) >= m.column_probability[j]) continue;
        for (uint32_t d : m.column_detectors[j]) s.syndrome[d] ^= 1;
        for (uint32_t e : m.column_edges[j])
            for (uint32_t o : m.edge_observables[e]) s.observables[o] ^= 1;
    }
    return s;
}

TEST(BeliefMatching, NeverFailsWherePlainMatchingReproducesTheSyndrome) {
    std::mt19937_64 rng(17);
    size_t checked = 0;
    for (int code = 0; code < 6; ++code) {
        const auto model = hyper_repetition_model(3 + code % 3 * 2, 2 + code % 3, rng, 0.03);
        BpSettings bp;
        bp.max_iterations = code % 2 ? 3 : 20;
        bp.method = code % 3 ? BpMethod::MinSum : BpMethod::ProductSum;
        const auto decoder = BeliefMatchingDecoder::create(model, bp).value();
        BeliefMatchingDecoder::Workspace ws;
        std::vector<uint8_t> flips(decoder.n_edges()), plain_flips(decoder.n_edges()), obs(1);
        for (int shot = 0; shot < 300; ++shot) {
            // Sampled errors, and every fifth shot a random syndrome.
            Shot s = sample(model, rng);
            if (shot % 5 == 0)
                for (auto& b : s.syndrome) b = rng() % 4 == 0;
            const bool plain_matched = decoder.decode_plain_into(s.syndrome, plain_flips, obs).ok();
            const bool matched = decoder.decode_into(s.syndrome, flips, obs, ws).ok();
            if (plain_matched && decoder.explains(s.syndrome, plain_flips, ws)) {
                ASSERT_TRUE(matched && decoder.explains(s.syndrome, flips, ws)) << "code " << code << " shot " << shot;
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 1500u);
}

// Fails on purpose unless asked for the build (plain) weights: on odd calls
// it reports that no matching exists, on even calls it claims success with
// no flips. Every belief decode must come back as the plain result.
class PriorOnlyMatcher final : public EdgeMatcher {
public:
    PriorOnlyMatcher(const MatchingModel& m, std::span<const double> prior)
        : inner_(SparseEdgeMatcher::create(static_cast<uint32_t>(m.n_detectors), m.edge_ends, prior).value()) {}
    Status match(std::span<const uint8_t> s, std::span<const double> w, std::span<uint8_t> flips) const override {
        if (w.empty()) return inner_.match(s, w, flips);
        if (++calls_ % 2) return value_error("no matching today");
        std::fill(flips.begin(), flips.end(), uint8_t{0});
        return ok_status();
    }

private:
    SparseEdgeMatcher inner_;
    mutable size_t calls_ = 0;
};

TEST(BeliefMatching, FallsBackToPlainMatchingWhenTheBeliefMatchingFails) {
    std::mt19937_64 rng(4);
    const auto model = hyper_repetition_model(5, 3, rng, 0.05);
    const auto reference = BeliefMatchingDecoder::create(model, {}).value();
    const auto decoder =
        BeliefMatchingDecoder::create(model, {}, std::make_shared<PriorOnlyMatcher>(model, reference.prior_weights()))
            .value();
    BeliefMatchingDecoder::Workspace ws;
    std::vector<uint8_t> flips(decoder.n_edges()), plain(decoder.n_edges()), obs(1), plain_obs(1);
    size_t fell_back = 0;
    for (int shot = 0; shot < 200; ++shot) {
        const Shot s = sample(model, rng);
        const auto outcome = decoder.decode_into(s.syndrome, flips, obs, ws).value();
        ASSERT_TRUE(reference.decode_plain_into(s.syndrome, plain, plain_obs).ok());
        ASSERT_EQ(flips, plain);
        ASSERT_EQ(obs, plain_obs);
        fell_back += !outcome.used_belief_weights;
    }
    EXPECT_GT(fell_back, 50u);
}

TEST(BeliefMatching, EdgeProbabilitiesCombineIndependentFlips) {
    // Edge 0 lies in columns 0 and 2, edge 1 in columns 1 and 2.
    MatchingModel m;
    m.n_detectors = 2;
    m.n_observables = 1;
    m.edge_ends = {{0, kNoIndex}, {0, 1}};
    m.edge_observables = {{0}, {}};
    m.column_probability = {0.1, 0.2, 0.3};
    m.column_detectors = {{0}, {0, 1}, {1}};
    m.column_edges = {{0}, {1}, {0, 1}};
    const auto decoder = BeliefMatchingDecoder::create(m, {}).value();
    std::vector<double> p(2);
    decoder.edge_probabilities(m.column_probability, p);
    EXPECT_DOUBLE_EQ(p[0], 0.1 * 0.7 + 0.3 * 0.9);
    EXPECT_DOUBLE_EQ(p[1], 0.2 * 0.7 + 0.3 * 0.8);
    EXPECT_DOUBLE_EQ(decoder.prior_weights()[0], std::log((1 - p[0]) / p[0]));
    EXPECT_EQ(matching_weight(0.9), 0.0);
    EXPECT_NEAR(matching_weight(0.0), std::log(1e15), 1e-9);
}

TEST(BeliefMatching, BeatsPlainMatchingOnCorrelatedErrors) {
    std::mt19937_64 rng(23);
    const auto model = hyper_repetition_model(7, 7, rng, 0.04);
    BpSettings bp;
    bp.max_iterations = 20;
    const auto decoder = BeliefMatchingDecoder::create(model, bp).value();
    BeliefMatchingDecoder::Workspace ws;
    std::vector<uint8_t> flips(decoder.n_edges()), obs(1);
    size_t belief_failures = 0, plain_failures = 0, fallbacks = 0;
    for (int shot = 0; shot < 3000; ++shot) {
        const Shot s = sample(model, rng);
        const auto outcome = decoder.decode_into(s.syndrome, flips, obs, ws);
        ASSERT_TRUE(outcome.ok());
        fallbacks += !outcome.value().used_belief_weights;
        belief_failures += obs != s.observables;
        ASSERT_TRUE(decoder.decode_plain_into(s.syndrome, flips, obs).ok());
        plain_failures += obs != s.observables;
    }
    EXPECT_GT(plain_failures, 20u);
    EXPECT_LT(belief_failures, plain_failures);
    EXPECT_EQ(fallbacks, 0u);
}

TEST(BeliefMatching, BatchPredictionsEqualSingleDecodes) {
    std::mt19937_64 rng(8);
    const auto model = hyper_repetition_model(5, 4, rng, 0.04);
    const auto decoder = BeliefMatchingDecoder::create(model, {}).value();
    const size_t shots = 97;
    std::vector<uint8_t> syndromes;
    for (size_t i = 0; i < shots; ++i) {
        const Shot s = sample(model, rng);
        syndromes.insert(syndromes.end(), s.syndrome.begin(), s.syndrome.end());
    }
    for (bool plain : {false, true}) {
        const auto batch = decoder.predict_observables(syndromes, shots, false, true, plain).value();
        BeliefMatchingDecoder::Workspace ws;
        std::vector<uint8_t> flips(decoder.n_edges()), obs(1);
        for (size_t i = 0; i < shots; ++i) {
            const std::span<const uint8_t> s{syndromes.data() + i * model.n_detectors, model.n_detectors};
            if (plain)
                ASSERT_TRUE(decoder.decode_plain_into(s, flips, obs).ok());
            else
                ASSERT_TRUE(decoder.decode_into(s, flips, obs, ws).ok());
            ASSERT_EQ(batch[i], obs[0]) << "row " << i;
        }
    }
}

TEST(BeliefMatching, InconsistentModelsAreRefused) {
    MatchingModel m;
    m.n_detectors = 2;
    m.n_observables = 1;
    m.edge_ends = {{0, 1}};
    m.edge_observables = {{}};
    m.column_probability = {0.1};
    m.column_detectors = {{0}};
    m.column_edges = {{0}};
    EXPECT_EQ(BeliefMatchingDecoder::create(m, {}).error().message,
              "column 0: its edges flip other detectors than the column");
    m.column_detectors = {{0, 1}};
    m.edge_ends = {{0, 2}};
    EXPECT_EQ(BeliefMatchingDecoder::create(m, {}).error().message, "edge 0 has an end beyond the 2 detectors");
    m.edge_ends = {{0, 1}};
    m.column_probability = {1.5};
    EXPECT_EQ(BeliefMatchingDecoder::create(m, {}).error().message, "column 0 has a probability outside [0, 1]");
}

}  // namespace
}  // namespace vornex
