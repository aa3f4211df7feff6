#include "bp/bp_osd_engine.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>

#include "bp/bp_osd.h"
#include "bp/bp_osd_reference.h"
#include "bp/bp_osd_engine_reference.h"

namespace vornex {
namespace {

struct RandomCode {
    CheckList checks;
    size_t n_qubits;
};

// Small codes with checks of weight 1..5; qubits repeated inside a check, and
// every few codes indices beyond n_qubits (both must be read as the matrix
// entry 1 and as absent).
RandomCode random_code(std::mt19937_64& rng, size_t max_qubits = 12, size_t max_checks = 10) {
    RandomCode code;
    code.n_qubits = 1 + rng() % max_qubits;
    const size_t nc = 1 + rng() % max_checks;
    const bool overhang = rng() % 6 == 0;
    for (size_t c = 0; c < nc; ++c) {
        std::vector<uint32_t> check;
        const size_t w = 1 + rng() % 5;
        for (size_t k = 0; k < w; ++k)
            check.push_back(static_cast<uint32_t>(rng() % (code.n_qubits + (overhang ? 2 : 0))));
        code.checks.push_back(check);
    }
    return code;
}

std::vector<uint8_t> random_bits(std::mt19937_64& rng, size_t n, unsigned percent = 50) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = rng() % 100 < percent ? 1 : 0;
    return v;
}

std::vector<double> random_rates(std::mt19937_64& rng, size_t n) {
    std::vector<double> p(n);
    for (auto& x : p) x = 0.001 + (rng() % 1000) / 2500.0;
    return p;
}

BpSettings random_bp_settings(std::mt19937_64& rng) {
    BpSettings s;
    s.method = rng() % 2 ? BpMethod::MinSum : BpMethod::ProductSum;
    const double scales[] = {1.0, 0.625, 0.9};
    s.ms_scaling_factor = scales[rng() % 3];
    s.schedule = rng() % 2 ? BpSchedule::Parallel : BpSchedule::Serial;
    s.stop = rng() % 2 ? BpStop::Syndrome : BpStop::Posterior;
    s.max_iterations = rng() % 40;
    return s;
}

bool close(double a, double b, double tolerance) {
    return std::fabs(a - b) <= tolerance * std::max({std::fabs(a), std::fabs(b), 1.0});
}

// ---- BP ----

TEST(BpEngineBp, MatchesPlainReferenceForEverySetting) {
    std::mt19937_64 rng(41);
    size_t stopped_early = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        const RandomCode rc = random_code(rng);
        const auto graph = build_tanner_graph(rc.checks, rc.n_qubits).value();
        const auto prior = column_priors(random_rates(rng, rc.n_qubits)).llr;
        const BpSettings settings = random_bp_settings(rng);
        const auto h = reference::parity_matrix(rc.checks, rc.n_qubits);
        const auto s = trial % 2 ? random_bits(rng, rc.checks.size())
                                 : reference::syndrome_of(h, random_bits(rng, rc.n_qubits, 20));
        BpMessages messages;
        const BpOutcome got = run_belief_propagation(graph, prior, s, settings, messages);
        const auto want = reference::bp(h, prior, s, settings);
        ASSERT_EQ(got.iterations, want.iterations) << "trial " << trial;
        ASSERT_EQ(got.explained, want.explained) << "trial " << trial;
        stopped_early += got.iterations < settings.max_iterations;
        // Min-sum adds and compares the same values in the same order as the
        // reference. Product-sum splits each exclusive product around its
        // target (prefix times suffix) where the reference multiplies left to
        // right: a few ulps per update (bounded in the test below), which
        // loopy BP on unexplainable syndromes amplifies over 40 iterations
        // (up to 4e-4 relative on these seeds). Its discrete outcome must
        // still agree exactly.
        const double tolerance = settings.method == BpMethod::MinSum ? 1e-12 : 1e-3;
        for (size_t q = 0; q < rc.n_qubits; ++q) {
            ASSERT_TRUE(close(messages.posterior[q], want.posterior[q], tolerance))
                << "trial " << trial << " qubit " << q << ": " << messages.posterior[q] << " vs " << want.posterior[q];
            ASSERT_EQ(messages.hard_decision[q], want.posterior[q] < 0 ? 1 : 0);
        }
    }
    EXPECT_GT(stopped_early, 1000u);
}

// One product-sum iteration from the priors, against the definition taken
// in long double: each message 2 atanh(prod_{others} tanh(prior / 2)), the
// product capped below 1. Our product of d - 1 tanh values, each within a few
// ulps, is within (3d + 4) ulps of the exact one, and 2 atanh magnifies an
// error in P by 2 / (1 - P^2); the posterior adds the messages' bounds and
// its own summation error. Checks of up to 40 qubits (circuit-level
// detectors), priors from exactly 0 (tanh 0) through saturation (tanh 1).
TEST(BpEngineBp, ProductSumUpdateIsWithinRoundingOfTheDefinition) {
    std::mt19937_64 rng(23);
    const long double u = std::ldexp(1.0L, -53);
    const long double cap = kProductSumMaxTanh;
    BpSettings one_step;
    one_step.method = BpMethod::ProductSum;
    one_step.stop = BpStop::Posterior;
    one_step.max_iterations = 1;
    size_t saturated = 0, zero = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const size_t nq = 2 + rng() % 60;
        CheckList checks(1 + rng() % 8);
        for (auto& check : checks)
            for (size_t k = 1 + rng() % (rng() % 2 ? 40 : 4); k > 0; --k) check.push_back(static_cast<uint32_t>(rng() % nq));
        std::vector<double> prior(nq);
        for (double& l : prior) {
            const double magnitude = std::array<double, 4>{0.0, 0.05, 3.0, 45.0}[rng() % 4] * (rng() % 1000) / 999.0;
            l = rng() % 4 == 0 ? -magnitude : magnitude;
        }
        const auto graph = build_tanner_graph(checks, nq).value();
        const auto h = reference::parity_matrix(checks, nq);
        const auto s = random_bits(rng, checks.size());
        BpMessages messages;
        run_belief_propagation(graph, prior, s, one_step, messages);
        for (size_t q = 0; q < nq; ++q) {
            long double posterior = prior[q], bound = 0, magnitudes = std::fabs(prior[q]);
            size_t terms = 1;
            for (size_t c = 0; c < h.size(); ++c) {
                if (!h[c][q]) continue;
                long double product = 1;
                size_t degree = 0;
                for (size_t o = 0; o < nq; ++o) {
                    if (!h[c][o]) continue;
                    ++degree;
                    if (o != q) product *= std::tanh(static_cast<long double>(prior[o]) / 2);
                }
                product = std::clamp(product, -cap, cap);
                const long double m = (s[c] & 1 ? -2 : 2) * std::atanh(product);
                const long double rel = (3.0L * degree + 4) * u;
                const long double worst = std::min(cap, std::fabs(product) * (1 + rel));
                bound += 2 * rel * std::fabs(product) / (1 - worst * worst) + 4 * u * std::fabs(m);
                saturated += worst == cap;
                zero += product == 0;
                posterior += m;
                magnitudes += std::fabs(m);
                ++terms;
            }
            bound += terms * u * magnitudes;
            ASSERT_LE(std::fabs(messages.posterior[q] - posterior), 2 * bound + 1e-300L)
                << "trial " << trial << " qubit " << q << ": " << messages.posterior[q] << " vs "
                << static_cast<double>(posterior);
        }
    }
    EXPECT_GT(saturated, 50u);
    EXPECT_GT(zero, 50u);
}

TEST(BpEngineBp, SyndromeStopEndsAtTheFirstExplainingIteration) {
    // A 9-qubit ring: a single flip is explained after a few iterations;
    // the posterior rule keeps going until the messages settle.
    CheckList ring;
    for (uint32_t i = 0; i < 9; ++i) ring.push_back({i, (i + 1) % 9});
    const auto graph = build_tanner_graph(ring, 9).value();
    const std::vector<double> prior(9, bp_prior_llr(0.05));
    std::vector<uint8_t> s(9, 0);
    s[3] = s[4] = 1;
    BpSettings by_syndrome, by_posterior;
    by_posterior.stop = BpStop::Posterior;
    BpMessages m;
    const BpOutcome fast = run_belief_propagation(graph, prior, s, by_syndrome, m);
    EXPECT_TRUE(fast.explained);
    EXPECT_EQ(m.hard_decision, (std::vector<uint8_t>{0, 0, 0, 0, 1, 0, 0, 0, 0}));
    const BpOutcome slow = run_belief_propagation(graph, prior, s, by_posterior, m);
    EXPECT_GT(slow.iterations, fast.iterations);
    // A zero syndrome is explained by the prior alone: no iteration at all.
    EXPECT_EQ(run_belief_propagation(graph, prior, std::vector<uint8_t>(9, 0), by_syndrome, m).iterations, 0u);
    // Bit 0 of each byte is the check's value: bytes 2 and 3 read as 0 and 1.
    std::vector<uint8_t> raw = s;
    raw[3] = 3;
    raw[0] = 2;
    BpMessages m2;
    run_belief_propagation(graph, prior, raw, by_syndrome, m2);
    run_belief_propagation(graph, prior, s, by_syndrome, m);
    EXPECT_EQ(m2.posterior, m.posterior);
}

TEST(BpEngineBp, ExhaustedBudgetRunsNoIteration) {
    const auto graph = build_tanner_graph({{0, 1}, {1, 2}}, 3).value();
    const std::vector<double> prior(3, 2.0);
    const std::vector<uint8_t> s{1, 1};
    BpMessages m;
    EXPECT_EQ(run_belief_propagation(graph, prior, s, {}, m, BpBudget{0.0}).iterations, 0u);
    EXPECT_GT(run_belief_propagation(graph, prior, s, {}, m, BpBudget{1e9}).iterations, 0u);
}

// ---- OSD ----

TEST(BpEngineOsd, EveryMethodAndOrderMatchesPlainReference) {
    std::mt19937_64 rng(7);
    const OsdMethod methods[] = {OsdMethod::Osd0, OsdMethod::Exhaustive, OsdMethod::CombinationSweep};
    size_t higher_order_won = 0;
    for (int trial = 0; trial < 4000; ++trial) {
        RandomCode rc = random_code(rng, 12, 8);
        if (trial % 2) rc.n_qubits += rc.checks.size();  // more free columns
        const auto graph = build_tanner_graph(rc.checks, rc.n_qubits).value();
        const auto h = reference::parity_matrix(rc.checks, rc.n_qubits);
        // Coarse posteriors and, half the time, equal weights: many ties.
        std::vector<double> post(rc.n_qubits);
        for (auto& x : post) x = static_cast<double>(static_cast<int>(rng() % 9) - 4);
        const auto weights = trial % 2 ? std::vector<double>(rc.n_qubits, 2.0)
                                       : column_priors(random_rates(rng, rc.n_qubits)).llr;
        const auto s = trial % 4 == 3 ? random_bits(rng, rc.checks.size())
                                      : reference::syndrome_of(h, random_bits(rng, rc.n_qubits, 30));
        OsdScratch scratch;
        const size_t rank = gf2_rank(graph, scratch);
        const auto osd0 = reference::osd(h, s, post, weights, OsdMethod::Osd0, 0);
        for (OsdMethod method : methods)
            for (size_t order = 0; order <= 3; ++order) {
                std::vector<uint8_t> got(rc.n_qubits, 7);
                osd_search(graph, rank, post, weights, s, OsdSettings{method, order}, scratch, got);
                const auto want = reference::osd(h, s, post, weights, method, order);
                ASSERT_EQ(got, want) << "trial " << trial << " method " << int(method) << " order " << order;
                higher_order_won += want != osd0;
            }
    }
    EXPECT_GT(higher_order_won, 1000u);
}

TEST(BpEngineOsd, ReproducesEverySyndromeInTheColumnSpaceElseHardDecision) {
    std::mt19937_64 rng(3);
    size_t solved = 0, fell_back = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        RandomCode rc = random_code(rng, 20, 14);
        const auto graph = build_tanner_graph(rc.checks, rc.n_qubits).value();
        const auto h = reference::parity_matrix(rc.checks, rc.n_qubits);
        std::vector<double> post(rc.n_qubits);
        for (auto& x : post) x = std::normal_distribution<double>(1.0, 3.0)(rng);
        const auto s = trial % 3 ? reference::syndrome_of(h, random_bits(rng, rc.n_qubits, 20))
                                 : random_bits(rng, rc.checks.size());
        std::vector<uint32_t> all(rc.n_qubits);
        for (size_t q = 0; q < all.size(); ++q) all[q] = static_cast<uint32_t>(q);
        std::vector<uint8_t> bits;
        const bool in_space = reference::solve(h, s, all, bits);
        OsdScratch scratch;
        const size_t rank = gf2_rank(graph, scratch);
        const OsdSettings settings{OsdMethod(trial % 3), static_cast<size_t>(trial % 5)};
        std::vector<uint8_t> e(rc.n_qubits);
        ASSERT_EQ(osd_search(graph, rank, post, std::vector<double>(rc.n_qubits, 1.0), s, settings, scratch, e),
                  in_space);
        if (in_space) {
            ASSERT_TRUE(reference::same_parity(reference::syndrome_of(h, e), s)) << "trial " << trial;
            ++solved;
        } else {
            for (size_t q = 0; q < e.size(); ++q) ASSERT_EQ(e[q], post[q] < 0 ? 1 : 0);
            ++fell_back;
        }
    }
    EXPECT_GT(solved, 1500u);
    EXPECT_GT(fell_back, 300u);
}

TEST(BpEngineOsd, RankIsTheGf2Rank) {
    OsdScratch scratch;
    // Rows 0 + 1 = row 2: rank 2; the empty code has rank 0.
    EXPECT_EQ(gf2_rank(build_tanner_graph({{0, 1}, {1, 2}, {0, 2}}, 3).value(), scratch), 2u);
    EXPECT_EQ(gf2_rank(build_tanner_graph({}, 4).value(), scratch), 0u);
    // A repeated index is one entry: {0, 0, 1} is the row 1 1, not 0 1.
    EXPECT_EQ(gf2_rank(build_tanner_graph({{0, 0, 1}, {0, 1}}, 2).value(), scratch), 1u);
}

// ---- Engine ----

BpOsdSettings defined_like_settings() {
    BpOsdSettings s;
    s.bp.stop = BpStop::Posterior;
    s.bp.max_iterations = 50;
    return s;
}

// With one rate for every column, plain min-sum, the parallel schedule, the
// posterior stop and OSD-0, the engine is the defined decoder (on 0/1
// syndromes and codes without repeated indices, which the defined decoder
// reads differently).
TEST(BpOsdEngineTest, DefinedSettingsReproduceTheDefinedDecoder) {
    std::mt19937_64 rng(11);
    for (int trial = 0; trial < 2000; ++trial) {
        RandomCode rc = random_code(rng);
        for (auto& check : rc.checks) {
            std::sort(check.begin(), check.end());
            check.erase(std::unique(check.begin(), check.end()), check.end());
        }
        if (trial % 2) rc.n_qubits += rc.checks.size();
        const double p = 0.001 + (rng() % 1000) / 3000.0;
        auto defined = bp_osd_reference::BpOsdDecoder::create(rc.checks, rc.n_qubits, p).value();
        const auto engine =
            BpOsdEngine::create(rc.checks, rc.n_qubits, std::vector<double>(rc.n_qubits, p), defined_like_settings())
                .value();
        const auto s = random_bits(rng, rc.checks.size());
        BpOsdEngine::Workspace ws;
        std::vector<uint8_t> got(rc.n_qubits);
        engine.decode_into(s, got, ws);
        ASSERT_EQ(got, defined.decode(s).value()) << "trial " << trial;
    }
}

TEST(BpOsdEngineTest, ExplainedSyndromesSkipOsdAndReturnTheHardDecision) {
    CheckList chain;
    for (uint32_t i = 0; i + 1 < 7; ++i) chain.push_back({i, i + 1});
    const auto engine = BpOsdEngine::create(chain, 7, std::vector<double>(7, 0.05), {}).value();
    BpOsdEngine::Workspace ws;
    std::vector<uint8_t> e(7), s(6, 0);
    s[2] = s[3] = 1;
    const BpOsdOutcome outcome = engine.decode_into(s, e, ws);
    EXPECT_TRUE(outcome.bp_explained);
    EXPECT_FALSE(outcome.osd_ran);
    EXPECT_EQ(e, (std::vector<uint8_t>{0, 0, 0, 1, 0, 0, 0}));
    // Zero iterations allowed: BP cannot explain a fired check, OSD does.
    BpOsdSettings none;
    none.bp.max_iterations = 0;
    const auto osd_only = BpOsdEngine::create(chain, 7, std::vector<double>(7, 0.05), none).value();
    EXPECT_TRUE(osd_only.decode_into(s, e, ws).osd_ran);
    EXPECT_TRUE(reference::same_parity(reference::syndrome_of(reference::parity_matrix(chain, 7), e), s));
}

TEST(BpOsdEngineTest, PerColumnPriorsSteerTheDecision) {
    // Two qubits explain the same single check; the likelier one is chosen.
    for (int cheap : {0, 1}) {
        std::vector<double> rates{0.01, 0.01};
        rates[cheap] = 0.2;
        const auto engine = BpOsdEngine::create({{0, 1}}, 2, rates, {}).value();
        BpOsdEngine::Workspace ws;
        std::vector<uint8_t> e(2);
        engine.decode_into(std::vector<uint8_t>{1}, e, ws);
        std::vector<uint8_t> want(2, 0);
        want[cheap] = 1;
        EXPECT_EQ(e, want);
    }
}

TEST(BpOsdEngineTest, BatchRowsEqualSingleDecodes) {
    std::mt19937_64 rng(5);
    CheckList checks;
    for (uint32_t i = 0; i < 30; ++i) checks.push_back({i, (i + 1) % 30, (i + 7) % 30});
    BpOsdSettings settings;
    settings.osd = {OsdMethod::CombinationSweep, 4};
    settings.bp.max_iterations = 8;
    const auto engine = BpOsdEngine::create(checks, 30, random_rates(rng, 30), settings).value();
    const size_t shots = 301;
    std::vector<uint8_t> syndromes;
    for (size_t i = 0; i < shots; ++i) {
        const auto s = random_bits(rng, 30, 15);
        syndromes.insert(syndromes.end(), s.begin(), s.end());
    }
    std::vector<uint8_t> batch(shots * 30, 9);
    engine.decode_batch(syndromes.data(), shots, batch.data());
    BpOsdEngine::Workspace ws;
    std::vector<uint8_t> e(30);
    for (size_t i = 0; i < shots; ++i) {
        engine.decode_into({syndromes.data() + i * 30, 30}, e, ws);
        ASSERT_EQ(std::vector<uint8_t>(batch.begin() + i * 30, batch.begin() + (i + 1) * 30), e) << "row " << i;
    }
}

TEST(BpOsdEngineTest, DegenerateSizesDecode) {
    BpOsdEngine::Workspace ws;
    const auto no_qubits = BpOsdEngine::create({{0}}, 0, {}, {}).value();
    std::vector<uint8_t> none;
    EXPECT_FALSE(no_qubits.decode_into(std::vector<uint8_t>{1}, none, ws).bp_explained);
    const auto no_checks = BpOsdEngine::create({}, 3, std::vector<double>(3, 0.1), {}).value();
    std::vector<uint8_t> e(3, 5);
    no_checks.decode_into({}, e, ws);
    EXPECT_EQ(e, std::vector<uint8_t>(3, 0));
}

TEST(BpOsdEngineTest, SettingErrorsAreExact) {
    auto err = [](auto result) { return result.error().message; };
    EXPECT_EQ(err(parse_bp_method("sum")), "bp_method must be 'minimum_sum' or 'product_sum', got 'sum'");
    EXPECT_EQ(err(parse_bp_schedule("")), "schedule must be 'parallel' or 'serial', got ''");
    EXPECT_EQ(err(parse_bp_stop("never")), "stop must be 'syndrome' or 'posterior', got 'never'");
    EXPECT_EQ(err(parse_osd_method("OSD_CS")), "osd_method must be 'osd_0', 'osd_e' or 'osd_cs', got 'OSD_CS'");
    EXPECT_EQ(parse_osd_method("osd_cs").value(), OsdMethod::CombinationSweep);
    EXPECT_EQ(parse_bp_method("product_sum").value(), BpMethod::ProductSum);

    const CheckList code{{0, 1}};
    const std::vector<double> rates{0.1, 0.1};
    BpOsdSettings s;
    s.bp.ms_scaling_factor = 0.0;
    EXPECT_EQ(err(BpOsdEngine::create(code, 2, rates, s)), "ms_scaling_factor must be in (0, 1], got 0");
    s.bp.ms_scaling_factor = 1.5;
    EXPECT_EQ(err(BpOsdEngine::create(code, 2, rates, s)), "ms_scaling_factor must be in (0, 1], got 1.5");
    s = {};
    s.osd = {OsdMethod::Exhaustive, 21};
    EXPECT_EQ(err(BpOsdEngine::create(code, 2, rates, s)), "osd_order must be <= 20 for osd_e, got 21");
    s.osd = {OsdMethod::CombinationSweep, 5000};
    EXPECT_EQ(err(BpOsdEngine::create(code, 2, rates, s)), "osd_order must be <= 4096 for osd_cs, got 5000");
    EXPECT_EQ(err(BpOsdEngine::create(code, 2, {0.1}, {})), "error_channel has length 1, expected n_qubits 2");
    EXPECT_EQ(err(BpOsdEngine::create(code, 2, {0.1, -0.5}, {})), "error_channel[1] must be in [0, 1], got -0.5");
    EXPECT_EQ(err(BpOsdEngine::create(code, 2, {std::nan(""), 0.1}, {})), "error_channel[0] must be in [0, 1], got nan");
}

}  // namespace
}  // namespace vornex
