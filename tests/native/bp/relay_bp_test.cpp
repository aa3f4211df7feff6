#include "bp/relay_bp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <set>

#include "bp/bp_models.h"
#include "bp/bp_osd_engine.h"
#include "bp/bp_osd.h"

namespace vornex {
namespace {

using testing::BpModel;

// Plain min-sum BP with memory, straight from its definition on a dense
// matrix: no edge numbering, no exclusive-sum tricks. Runs at most
// `iterations` iterations from marginals M (the priors for a fresh run),
// stopping once the hard decision explains the syndrome; returns the count
// and leaves the last marginals in M.
size_t reference_memory_bp(const BpModel& m, const std::vector<double>& prior, const std::vector<double>& strength,
                           const std::vector<uint8_t>& syndrome, size_t iterations, double scale,
                           std::vector<double>& M) {
    const size_t nc = m.checks.size(), nq = m.n_qubits;
    std::vector<std::vector<uint8_t>> h(nc, std::vector<uint8_t>(nq, 0));
    for (size_t c = 0; c < nc; ++c)
        for (uint32_t q : m.checks[c]) h[c][q] = 1;
    auto bias = [&](size_t q) { return (1.0 - strength[q]) * prior[q] + strength[q] * M[q]; };
    std::vector<std::vector<double>> v2c(nc, std::vector<double>(nq, 0.0)), c2v = v2c;
    for (size_t q = 0; q < nq; ++q) {
        const double b = bias(q);
        for (size_t c = 0; c < nc; ++c) v2c[c][q] = b;
    }
    for (size_t t = 1; t <= iterations; ++t) {
        for (size_t c = 0; c < nc; ++c)
            for (size_t q = 0; q < nq; ++q) {
                if (!h[c][q]) continue;
                bool negative = syndrome[c] & 1;
                double mag = std::numeric_limits<double>::infinity();
                for (size_t r = 0; r < nq; ++r) {
                    if (!h[c][r] || r == q) continue;
                    negative ^= v2c[c][r] < 0.0;
                    mag = std::min(mag, std::fabs(v2c[c][r]));
                }
                const double out = std::isinf(mag) ? kBpLoneCheckMessage : scale * mag;
                c2v[c][q] = negative ? -out : out;
            }
        for (size_t q = 0; q < nq; ++q) {
            const double b = bias(q);
            double total = b;
            for (size_t c = 0; c < nc; ++c)
                if (h[c][q]) total += c2v[c][q];
            for (size_t c = 0; c < nc; ++c) {
                if (!h[c][q]) continue;
                double others = b;
                for (size_t k = 0; k < nc; ++k)
                    if (h[k][q] && k != c) others += c2v[k][q];
                v2c[c][q] = others;
            }
            M[q] = total;
        }
        bool explained = true;
        for (size_t c = 0; c < nc; ++c) {
            uint8_t parity = syndrome[c] & 1;
            for (size_t q = 0; q < nq; ++q) parity ^= h[c][q] & (M[q] < 0.0);
            explained &= parity == 0;
        }
        if (explained) return t;
    }
    return iterations;
}

// Random small codes with random rates, so that no two sums tie.
BpModel small_random_model(std::mt19937_64& rng) {
    BpModel m = testing::random_ldpc_model(rng, 4 + rng() % 8, 6 + rng() % 14, 0.0);
    std::uniform_real_distribution<double> u(0.005, 0.2);
    for (double& p : m.rates) p = u(rng);
    return m;
}

std::vector<uint8_t> random_syndrome(std::mt19937_64& rng, size_t n) {
    std::vector<uint8_t> s(n);
    for (auto& b : s) b = rng() % 3 == 0;
    return s;
}

TEST(MemoryBp, ZeroStrengthIsPlainMinSumBitForBit) {
    std::mt19937_64 rng(11);
    for (int trial = 0; trial < 300; ++trial) {
        const BpModel m = trial % 2 ? small_random_model(rng) : testing::surface_memory_model(4, 3, 0.05);
        auto graph = build_tanner_graph(m.checks, m.n_qubits).value();
        const std::vector<double> prior = column_priors(m.rates).llr;
        const std::vector<uint8_t> s = trial % 2 ? random_syndrome(rng, m.checks.size()) : testing::sampled_syndrome(rng, m);
        BpSettings bp;
        bp.max_iterations = 1 + rng() % 40;
        bp.ms_scaling_factor = trial % 3 ? 1.0 : 0.75;
        BpMessages plain, memory;
        const BpOutcome a = run_belief_propagation(graph, prior, s, bp, plain);
        const BpOutcome b = run_memory_belief_propagation(graph, prior, s, bp,
                                                          BpMemory{std::vector<double>(m.n_qubits, 0.0), false}, memory);
        ASSERT_EQ(a.iterations, b.iterations);
        ASSERT_EQ(a.explained, b.explained);
        ASSERT_EQ(plain.posterior, memory.posterior);
        ASSERT_EQ(plain.hard_decision, memory.hard_decision);
    }
}

TEST(MemoryBp, LegsMatchThePlainReference) {
    std::mt19937_64 rng(12);
    std::uniform_real_distribution<double> g(-0.3, 0.7);
    for (int trial = 0; trial < 300; ++trial) {
        const BpModel m = small_random_model(rng);
        auto graph = build_tanner_graph(m.checks, m.n_qubits).value();
        const std::vector<double> prior = column_priors(m.rates).llr;
        const std::vector<uint8_t> s = random_syndrome(rng, m.checks.size());
        BpSettings bp;
        bp.max_iterations = 1 + rng() % 25;
        bp.ms_scaling_factor = trial % 2 ? 1.0 : 0.8;
        // Two legs: a fresh one, then one resumed from its marginals.
        std::vector<double> reference = prior;
        BpMessages messages;
        for (int leg = 0; leg < 2; ++leg) {
            std::vector<double> strength(m.n_qubits);
            for (double& x : strength) x = g(rng);
            const size_t ref_iterations =
                reference_memory_bp(m, prior, strength, s, bp.max_iterations, bp.ms_scaling_factor, reference);
            const BpOutcome out = run_memory_belief_propagation(graph, prior, s, bp, BpMemory{strength, leg > 0},
                                                                messages);
            if (leg == 0 && out.iterations == 0) break;  // the priors explained it; the reference ran one iteration
            ASSERT_EQ(out.iterations, ref_iterations) << "trial " << trial << " leg " << leg;
            for (size_t q = 0; q < m.n_qubits; ++q)
                ASSERT_NEAR(messages.posterior[q], reference[q], 1e-9 * (1.0 + std::fabs(reference[q])))
                    << "trial " << trial << " leg " << leg << " q " << q;
        }
    }
}

RelaySettings small_relay() {
    RelaySettings s;
    s.first_iterations = 20;
    s.leg_iterations = 15;
    s.legs = 12;
    s.solutions = 3;
    s.seed = 99;
    return s;
}

// The whole relay by its definition on the reference BP: strengths from the
// engine's leg_strengths, solutions distinct, the lightest kept.
std::vector<uint8_t> reference_relay(const RelayBpEngine& engine, const BpModel& m, const std::vector<uint8_t>& s,
                                     size_t& solutions) {
    const RelaySettings& rs = engine.settings();
    const std::vector<double> prior(engine.prior_llr().begin(), engine.prior_llr().end());
    std::vector<double> M = prior;
    std::vector<std::vector<uint8_t>> found;
    std::vector<uint8_t> best;
    double best_weight = std::numeric_limits<double>::infinity();
    for (size_t r = 0; r < rs.legs && found.size() < rs.solutions; ++r) {
        std::vector<double> strength(m.n_qubits, rs.first_strength);
        if (r > 0) engine.leg_strengths(r, strength);
        const size_t cap = r == 0 ? rs.first_iterations : rs.leg_iterations;
        reference_memory_bp(m, prior, strength, s, cap, rs.ms_scaling_factor, M);
        std::vector<uint8_t> hard(m.n_qubits);
        for (size_t q = 0; q < m.n_qubits; ++q) hard[q] = M[q] < 0.0;
        bool explains = true;
        for (size_t c = 0; c < m.checks.size(); ++c) {
            uint8_t parity = s[c];
            for (uint32_t q : std::set<uint32_t>(m.checks[c].begin(), m.checks[c].end())) parity ^= hard[q];
            explains &= parity == 0;
        }
        if (!explains || std::find(found.begin(), found.end(), hard) != found.end()) continue;
        found.push_back(hard);
        double w = 0.0;
        for (size_t q = 0; q < m.n_qubits; ++q) w += hard[q] ? prior[q] : 0.0;
        if (w < best_weight) best_weight = w, best = hard;
    }
    solutions = found.size();
    return best;
}

TEST(RelayBp, MatchesTheReferenceRelayOnSmallRandomCodes) {
    std::mt19937_64 rng(13);
    size_t multi = 0;
    for (int trial = 0; trial < 200; ++trial) {
        const BpModel m = small_random_model(rng);
        auto engine = RelayBpEngine::create(m.checks, m.n_qubits, m.rates, small_relay()).value();
        const std::vector<uint8_t> s = random_syndrome(rng, m.checks.size());
        if (std::none_of(s.begin(), s.end(), [](uint8_t b) { return b; })) continue;
        RelayBpEngine::Workspace ws;
        std::vector<uint8_t> correction(m.n_qubits);
        const RelayOutcome out = engine.decode_into(s, correction, ws);
        size_t solutions = 0;
        const std::vector<uint8_t> expected = reference_relay(engine, m, s, solutions);
        ASSERT_EQ(out.solutions, solutions) << "trial " << trial;
        multi += solutions > 1;
        if (solutions > 0) {
            ASSERT_EQ(correction, expected) << "trial " << trial;
            ASSERT_FALSE(out.fallback);
        } else {
            ASSERT_TRUE(out.fallback);
        }
    }
    EXPECT_GT(multi, 5u);
}

TEST(RelayBp, OneLegWithoutMemoryIsPlainMinSum) {
    std::mt19937_64 rng(14);
    const BpModel m = testing::surface_memory_model(5, 5, 0.01);
    RelaySettings rs;
    rs.first_strength = 0.0;
    rs.legs = 1;
    rs.solutions = 1;
    rs.fallback = RelayFallback::None;
    rs.first_iterations = 30;
    auto engine = RelayBpEngine::create(m.checks, m.n_qubits, m.rates, rs).value();
    ASSERT_TRUE(engine.restricts_first_leg());
    auto graph = build_tanner_graph(m.checks, m.n_qubits).value();
    const std::vector<double> prior = column_priors(m.rates).llr;
    BpSettings bp;
    bp.max_iterations = 30;
    RelayBpEngine::Workspace ws;
    BpMessages plain;
    std::vector<uint8_t> correction(m.n_qubits);
    for (int shot = 0; shot < 200; ++shot) {
        const std::vector<uint8_t> s = testing::sampled_syndrome(rng, m);
        const BpOutcome expected = run_belief_propagation(graph, prior, s, bp, plain);
        const RelayOutcome out = engine.decode_into(s, correction, ws);
        ASSERT_EQ(out.iterations, expected.iterations);
        ASSERT_EQ(out.fallback, !expected.explained);
        ASSERT_EQ(correction, plain.hard_decision);
    }
}

TEST(RelayBp, SeededRunsRepeatAndBatchesEqualSingleCalls) {
    std::mt19937_64 rng(15);
    const BpModel m = testing::local_hyperedge_model(rng, 5, 4, 0.02);
    RelaySettings rs = small_relay();
    auto engine = RelayBpEngine::create(m.checks, m.n_qubits, m.rates, rs).value();
    const size_t shots = 300, nc = m.checks.size(), nq = m.n_qubits;
    std::vector<uint8_t> syndromes;
    for (size_t i = 0; i < shots; ++i) {
        const auto s = testing::sampled_syndrome(rng, m);
        syndromes.insert(syndromes.end(), s.begin(), s.end());
    }
    std::vector<uint8_t> batch(shots * nq), again(shots * nq);
    engine.decode_batch(syndromes.data(), shots, batch.data());
    engine.decode_batch(syndromes.data(), shots, again.data());
    EXPECT_EQ(batch, again);
    RelayBpEngine::Workspace ws;
    std::vector<uint8_t> single(nq);
    size_t later_legs = 0;
    for (size_t i = 0; i < shots; ++i) {
        later_legs += engine.decode_into({syndromes.data() + i * nc, nc}, single, ws).legs > 1;
        ASSERT_TRUE(std::equal(single.begin(), single.end(), batch.begin() + i * nq)) << "shot " << i;
    }
    EXPECT_GT(later_legs, 0u);
    // Another seed draws other strengths.
    std::vector<double> a(nq), b(nq);
    engine.leg_strengths(1, a);
    rs.seed += 1;
    auto other = RelayBpEngine::create(m.checks, m.n_qubits, m.rates, rs).value();
    other.leg_strengths(1, b);
    EXPECT_NE(a, b);
    for (double g : a) ASSERT_TRUE(g >= rs.strength_min && g <= rs.strength_max);
}

TEST(RelayBp, ShotsWithoutSolutionSayWhichFallbackWrote) {
    // One check on no qubit can never be explained.
    const CheckList checks{{0, 1}, {}};
    RelaySettings rs = small_relay();
    auto engine = RelayBpEngine::create(checks, 2, std::vector<double>{0.1, 0.1}, rs).value();
    RelayBpEngine::Workspace ws;
    std::vector<uint8_t> correction(2);
    const std::vector<uint8_t> s{1, 1};
    const RelayOutcome out = engine.decode_into(s, correction, ws);
    EXPECT_TRUE(out.fallback);
    EXPECT_FALSE(out.explained);
    EXPECT_EQ(out.legs, rs.legs);
    EXPECT_EQ(out.solutions, 0u);
}

TEST(RelayBp, SettingsAreCheckedWithTheirNames) {
    RelaySettings rs;
    auto text = [&] { return validate_relay_settings(rs).error().message; };
    rs.first_strength = 1.5;
    EXPECT_EQ(text(), "first_leg_strength must be in [-1, 1], got 1.5");
    rs = {};
    rs.strength_min = 0.7;
    EXPECT_EQ(text(), "strength_min and strength_max must satisfy -1 <= strength_min <= strength_max <= 1, got 0.7 "
                      "and 0.66");
    rs = {};
    rs.legs = 0;
    EXPECT_EQ(text(), "legs must be at least 1, got 0");
    rs = {};
    rs.solutions = 0;
    EXPECT_EQ(text(), "solutions must be at least 1, got 0");
    rs = {};
    rs.ms_scaling_factor = 0.0;
    EXPECT_EQ(text(), "ms_scaling_factor must be in (0, 1], got 0");
    EXPECT_EQ(parse_relay_weight("heavy").error().message, "solution_weight must be 'prior' or 'count', got 'heavy'");
    EXPECT_EQ(parse_relay_fallback("x").error().message, "fallback must be 'osd' or 'none', got 'x'");
}

}  // namespace
}  // namespace vornex
