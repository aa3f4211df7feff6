// The defined BP-OSD (the engine's preset behind BpOsdFamily) against plain
// references written straight from its definition.
#include "bp/bp_osd_engine.h"
#include "bp/bp_osd_engine_reference.h"
#include "bp/bp_osd_family.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

namespace vornex {
namespace {

// ---- The preset's BP and OSD steps, called on their own ----

BpOsdEngine build_bp_osd_code(const CheckList& checks, std::optional<size_t> n_qubits, double error_rate) {
    return BpOsdEngine::create_defined(checks, n_qubits, error_rate).value();
}

size_t bp_run(const BpOsdEngine& engine, std::span<const uint8_t> s, size_t iterations, BpOsdEngine::Workspace& ws,
              std::optional<BpBudget> budget = std::nullopt) {
    if (!budget) return engine.run_bp(s, iterations, ws).iterations;
    return run_belief_propagation(engine.graph(), engine.prior_llr(), s, engine.settings().bp, ws.bp, budget)
        .iterations;
}

bool osd_decode(const BpOsdEngine& engine, std::span<const uint8_t> s, std::span<const double> posterior,
                OsdScratch& scratch, std::span<uint8_t> correction) {
    return osd_search(engine.graph(), engine.rank(), posterior, engine.prior_llr(), s, engine.settings().osd,
                      scratch, correction);
}

// ---- Plain references, written straight from the definitions ----

// Min-sum BP with per-edge messages kept in nested vectors and every sum and
// minimum taken directly over "all other" entries.
std::vector<double> reference_bp(const CheckList& checks, size_t nq, double error_rate, std::span<const uint8_t> s,
                                 size_t requested) {
    const size_t nc = checks.size();
    const size_t max_iter = std::min<size_t>(requested, 50);
    const double p = std::clamp(error_rate, 1e-10, 0.9999999999);
    const double prior = std::log((1 - p) / p);

    std::vector<std::vector<uint32_t>> q2c(nq);
    for (size_t c = 0; c < nc; ++c)
        for (uint32_t q : checks[c])
            if (q < nq) q2c[q].push_back(static_cast<uint32_t>(c));
    auto last_pos = [&](size_t c, uint32_t q) {
        size_t pos = 0;
        for (size_t w = 0; w < checks[c].size(); ++w)
            if (checks[c][w] == q) pos = w;
        return pos;
    };
    auto first_pos = [&](uint32_t q, size_t c) {
        return static_cast<size_t>(std::find(q2c[q].begin(), q2c[q].end(), c) - q2c[q].begin());
    };

    std::vector<std::vector<double>> c2v(nc), v2c(nq);
    for (size_t c = 0; c < nc; ++c) c2v[c].assign(checks[c].size(), 0.0);
    for (size_t q = 0; q < nq; ++q) v2c[q].assign(q2c[q].size(), 0.0);
    std::vector<double> post(nq, prior);

    for (size_t it = 0; it < max_iter; ++it) {
        for (size_t q = 0; q < nq; ++q)
            for (size_t j = 0; j < q2c[q].size(); ++j) {
                double sum = prior;
                for (size_t k = 0; k < q2c[q].size(); ++k)
                    if (k != j) sum += c2v[q2c[q][k]][last_pos(q2c[q][k], static_cast<uint32_t>(q))];
                v2c[q][j] = sum;
            }
        for (size_t c = 0; c < nc; ++c)
            for (size_t w = 0; w < checks[c].size(); ++w) {
                if (checks[c][w] >= nq) continue;
                double sign = 1.0;
                double mag = std::numeric_limits<double>::infinity();
                for (size_t o = 0; o < checks[c].size(); ++o) {
                    const uint32_t q2 = checks[c][o];
                    if (o == w || q2 >= nq) continue;
                    const double m = v2c[q2][first_pos(q2, c)];
                    if (m < 0) sign = -sign;
                    mag = std::min(mag, std::fabs(m));
                }
                if (s[c] == 1) sign = -sign;
                c2v[c][w] = sign * (std::isinf(mag) ? 1e6 : mag);
            }
        double delta = 0;
        for (size_t q = 0; q < nq; ++q) {
            double sum = prior;
            for (uint32_t c : q2c[q]) sum += c2v[c][last_pos(c, static_cast<uint32_t>(q))];
            delta = std::max(delta, std::fabs(sum - post[q]));
            post[q] = sum;
        }
        if (delta < 1e-6) break;
    }
    return post;
}

using reference::ByteMatrix;

std::vector<uint8_t> reference_osd(const CheckList& checks, size_t nq, std::span<const uint8_t> s,
                                   const std::vector<double>& post) {
    const ByteMatrix h = reference::parity_matrix(checks, nq);
    const std::vector<uint32_t> order = reference::flip_order(post);
    std::vector<uint8_t> correction(nq, 0), bits;
    for (size_t m = std::min(checks.size(), nq); m <= nq; ++m) {
        std::vector<uint32_t> cols(order.begin(), order.begin() + m);
        if (reference::solve(h, s, cols, bits)) {
            for (size_t i = 0; i < m; ++i) correction[cols[i]] = bits[i];
            return correction;
        }
    }
    for (size_t q = 0; q < nq; ++q) correction[q] = post[q] < 0 ? 1 : 0;
    return correction;
}

std::vector<uint8_t> syndrome_of(const CheckList& checks, size_t nq, std::span<const uint8_t> e) {
    const ByteMatrix h = reference::parity_matrix(checks, nq);
    std::vector<uint8_t> s(checks.size(), 0);
    for (size_t c = 0; c < checks.size(); ++c)
        for (size_t q = 0; q < nq; ++q) s[c] ^= h[c][q] & e[q];
    return s;
}

// ---- Random codes ----

struct RandomCode {
    CheckList checks;
    size_t n_qubits;
};

// Small codes with checks of weight 1..5; some qubits repeated inside a
// check, and every few codes an explicit n_qubits below the largest index.
RandomCode random_code(std::mt19937_64& rng) {
    RandomCode code;
    const size_t nq = 1 + rng() % 12;
    const size_t nc = 1 + rng() % 10;
    const bool overhang = rng() % 6 == 0;
    for (size_t c = 0; c < nc; ++c) {
        std::vector<uint32_t> check;
        const size_t w = 1 + rng() % 5;
        for (size_t k = 0; k < w; ++k) check.push_back(static_cast<uint32_t>(rng() % (nq + (overhang ? 2 : 0))));
        code.checks.push_back(check);
    }
    code.n_qubits = nq;
    return code;
}

std::vector<uint8_t> random_bits(std::mt19937_64& rng, size_t n, unsigned percent = 50) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = rng() % 100 < percent ? 1 : 0;
    return v;
}

bool near(double a, double b) { return std::fabs(a - b) <= 1e-9 * std::max({std::fabs(a), std::fabs(b), 1e-300}); }

// ---- BP ----

TEST(BpOsdBp, MatchesPlainReferenceOnRandomCodes) {
    std::mt19937_64 rng(20240611);
    size_t high_degree_codes = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        const RandomCode rc = random_code(rng);
        const double p = 0.001 + (rng() % 1000) / 3000.0;
        const auto code = build_bp_osd_code(rc.checks, rc.n_qubits, p);
        std::vector<size_t> listings(rc.n_qubits);
        for (const auto& check : rc.checks)
            for (uint32_t q : check)
                if (q < rc.n_qubits) ++listings[q];
        for (size_t n : listings) high_degree_codes += n >= 3;
        // Raw bytes 0 to 3: only the byte 1 counts as fired in the messages.
        auto s = random_bits(rng, rc.checks.size());
        for (auto& b : s) b |= static_cast<uint8_t>(rng() % 4 == 0) << 1;
        const size_t iters = rng() % 60;
        BpOsdEngine::Workspace ws;
        bp_run(code, s, iters, ws);
        const auto expected = reference_bp(rc.checks, rc.n_qubits, p, s, iters);
        ASSERT_EQ(ws.bp.posterior.size(), expected.size());
        for (size_t q = 0; q < expected.size(); ++q)
            ASSERT_TRUE(near(ws.bp.posterior[q], expected[q]))
                << "trial " << trial << " qubit " << q << ": " << ws.bp.posterior[q] << " vs " << expected[q];
    }
    EXPECT_GT(high_degree_codes, 1000u);
}

TEST(BpOsdBp, SurfaceLayoutMatchesReference) {
    // Every qubit of this layout lies in eight checks.
    CheckList checks;
    const uint32_t d = 4;
    for (uint32_t block = 0; block < 2; ++block)
        for (uint32_t r = 0; r < d; ++r)
            for (uint32_t c = 0; c < d; ++c) {
                const uint32_t r2 = block == 0 ? (r + 1) % d : (r + d - 1) % d;
                const uint32_t c2 = block == 0 ? (c + 1) % d : (c + d - 1) % d;
                checks.push_back({r * d + c, r * d + c2, r2 * d + c, r2 * d + c2});
            }
    std::mt19937_64 rng(7);
    const auto code = build_bp_osd_code(checks, std::nullopt, 0.05);
    BpOsdEngine::Workspace ws;
    for (int trial = 0; trial < 200; ++trial) {
        const auto e = random_bits(rng, d * d, 8);
        const auto s = syndrome_of(checks, d * d, e);
        bp_run(code, s, 50, ws);
        const auto expected = reference_bp(checks, d * d, 0.05, s, 50);
        for (size_t q = 0; q < expected.size(); ++q) ASSERT_TRUE(near(ws.bp.posterior[q], expected[q]));
    }
}

TEST(BpOsdBp, VeryHighDegreeQubitsMatchReference) {
    // Qubit 0 sits in 24 checks, beyond every fixed-width message kernel.
    std::mt19937_64 rng(12);
    CheckList checks;
    for (uint32_t c = 0; c < 24; ++c) checks.push_back({0, 1 + c % 7, 8 + c % 5});
    const auto code = build_bp_osd_code(checks, std::nullopt, 0.03);
    BpOsdEngine::Workspace ws;
    for (int trial = 0; trial < 50; ++trial) {
        const auto s = random_bits(rng, checks.size());
        bp_run(code, s, 50, ws);
        const auto expected = reference_bp(checks, 13, 0.03, s, 50);
        for (size_t q = 0; q < expected.size(); ++q) ASSERT_TRUE(near(ws.bp.posterior[q], expected[q]));
    }
}

TEST(BpOsdBp, ZeroIterationsGiveThePriorAndClampHolds) {
    const CheckList checks{{0, 1}, {1, 2}, {2, 3, 4}};
    const std::vector<uint8_t> s{1, 0, 1};
    for (double p : {0.1, 0.0, 1.0, -3.0, 7.0}) {
        auto dec = BpOsdFamily::create(checks, std::nullopt, p).value();
        const auto post = dec.bp_decode(s, 0).value();
        const double prior = std::log((1 - std::clamp(p, 1e-10, 0.9999999999)) / std::clamp(p, 1e-10, 0.9999999999));
        ASSERT_EQ(post.size(), 5u);
        for (double x : post) EXPECT_EQ(x, prior);
    }
    auto zero = BpOsdFamily::create(checks, std::nullopt, 0.0).value();
    EXPECT_NEAR(zero.bp_decode(s, 0).value()[0], 23.02585, 1e-5);
    auto one = BpOsdFamily::create(checks, std::nullopt, 1.0).value();
    EXPECT_NEAR(one.bp_decode(s, 0).value()[0], -23.02585, 1e-5);
}

TEST(BpOsdBp, IterationCapAndConvergence) {
    // A frustrated loop code keeps messages moving, so only the cap stops BP.
    CheckList checks;
    for (uint32_t i = 0; i < 9; ++i) checks.push_back({i, (i + 1) % 9, (i + 3) % 9});
    const auto code = build_bp_osd_code(checks, std::nullopt, 0.2);
    std::vector<uint8_t> s(9, 0);
    s[0] = s[4] = s[7] = 1;
    BpOsdEngine::Workspace ws;
    EXPECT_LE(bp_run(code, s, 1000, ws), 50u);
    const auto capped = ws.bp.posterior;
    bp_run(code, s, 50, ws);
    EXPECT_EQ(ws.bp.posterior, capped);
    // On a tree-shaped code a zero syndrome settles long before the cap.
    const auto chain = build_bp_osd_code({{0, 1}, {1, 2}, {2, 3}}, std::nullopt, 0.2);
    EXPECT_LT(bp_run(chain, std::vector<uint8_t>(3, 0), 50, ws), 10u);
}

TEST(BpOsdBp, ExhaustedBudgetRunsNoIteration) {
    const auto code = build_bp_osd_code({{0, 1}, {1, 2}}, std::nullopt, 0.1);
    const std::vector<uint8_t> s{1, 1};
    BpOsdEngine::Workspace ws;
    EXPECT_EQ(bp_run(code, s, 50, ws, BpBudget{0.0}), 0u);
    EXPECT_EQ(bp_run(code, s, 50, ws, BpBudget{-1.0}), 0u);
    EXPECT_GT(bp_run(code, s, 50, ws, BpBudget{1e9}), 0u);
}

// ---- OSD ----

TEST(BpOsdOsd, MatchesPlainReferenceOnRandomPosteriors) {
    std::mt19937_64 rng(99);
    for (int trial = 0; trial < 4000; ++trial) {
        const RandomCode rc = random_code(rng);
        const auto code = build_bp_osd_code(rc.checks, rc.n_qubits, 0.1);
        // Coarse values force ties, which must keep ascending qubit order.
        std::vector<double> post(rc.n_qubits);
        for (auto& x : post) x = static_cast<double>(static_cast<int>(rng() % 9) - 4);
        const auto s = trial % 2 ? random_bits(rng, rc.checks.size())
                                 : syndrome_of(rc.checks, rc.n_qubits, random_bits(rng, rc.n_qubits, 30));
        OsdScratch ws;
        std::vector<uint8_t> correction(rc.n_qubits, 7);
        osd_decode(code, s, post, ws, correction);
        ASSERT_EQ(correction, reference_osd(rc.checks, rc.n_qubits, s, post)) << "trial " << trial;
    }
}

TEST(BpOsdOsd, ReproducesSyndromesInTheColumnSpaceElseHardDecision) {
    std::mt19937_64 rng(5);
    size_t solved = 0, fell_back = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        RandomCode rc = random_code(rng);
        // More qubits than checks on half the codes, so the column set grows.
        if (trial % 2) rc.n_qubits += rc.checks.size();
        auto dec = BpOsdFamily::create(rc.checks, rc.n_qubits, 0.05).value();
        const bool in_space = trial % 3 != 0;
        const auto s = in_space ? syndrome_of(rc.checks, rc.n_qubits, random_bits(rng, rc.n_qubits, 20))
                                : random_bits(rng, rc.checks.size());
        std::vector<uint32_t> all(rc.n_qubits);
        for (size_t q = 0; q < all.size(); ++q) all[q] = static_cast<uint32_t>(q);
        std::vector<uint8_t> bits;
        const bool solvable = reference::solve(reference::parity_matrix(rc.checks, rc.n_qubits), s, all, bits);
        const auto correction = dec.decode(s).value();
        if (solvable) {
            ASSERT_EQ(syndrome_of(rc.checks, rc.n_qubits, correction), s) << "trial " << trial;
            ++solved;
        } else {
            const auto post = dec.bp_decode(s, 50).value();
            for (size_t q = 0; q < post.size(); ++q) ASSERT_EQ(correction[q], post[q] < 0 ? 1 : 0);
            ++fell_back;
        }
    }
    EXPECT_GT(solved, 500u);
    EXPECT_GT(fell_back, 100u);
}

TEST(BpOsdOsd, NanPosteriorsAreOrderedLastInsteadOfBreakingTheSort) {
    const auto code = build_bp_osd_code({{0, 1}, {1, 2}}, std::nullopt, 0.1);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<double> post{nan, 1.0, nan};
    const std::vector<uint8_t> s{1, 1};
    OsdScratch ws;
    std::vector<uint8_t> correction(3);
    EXPECT_TRUE(osd_decode(code, s, post, ws, correction));
    EXPECT_EQ(ws.order, (std::vector<uint32_t>{1, 0, 2}));
    EXPECT_EQ(correction, (std::vector<uint8_t>{0, 1, 0}));
}

// ---- Decoder ----

TEST(BpOsdDefinedDecoder, ZeroSyndromeAndShapes) {
    auto dec = BpOsdFamily::create({{0, 1, 2, 3}, {2, 3, 4, 5}, {0, 5}}, std::nullopt, 0.01).value();
    EXPECT_EQ(dec.n_qubits(), 6u);
    EXPECT_EQ(dec.n_checks(), 3u);
    EXPECT_EQ(dec.decode(std::vector<uint8_t>(3, 0)).value(), std::vector<uint8_t>(6, 0));
    EXPECT_EQ(dec.decode_timed(std::vector<uint8_t>(3, 0), 100.0).value(), std::vector<uint8_t>(6, 0));
    // Derived size for a code without any qubit index is one qubit.
    EXPECT_EQ(BpOsdFamily::create({}, std::nullopt, 0.1).value().n_qubits(), 1u);
}

TEST(BpOsdDefinedDecoder, ZeroBudgetDecodesOnThePriorOrdering) {
    const CheckList checks{{0, 1}, {1, 2}, {2, 3}};
    auto dec = BpOsdFamily::create(checks, std::nullopt, 0.1).value();
    const std::vector<uint8_t> s{1, 0, 1};
    const std::vector<double> prior(4, std::log(0.9 / 0.1));
    EXPECT_EQ(dec.decode_timed(s, 0.0).value(), reference_osd(checks, 4, s, prior));
    EXPECT_EQ(dec.decode(s).value(), reference_osd(checks, 4, s, reference_bp(checks, 4, 0.1, s, 50)));
}

TEST(BpOsdDefinedDecoder, LengthErrorsAreExact) {
    auto dec = BpOsdFamily::create({{0, 1}, {1, 2}}, std::nullopt, 0.1).value();
    const std::vector<uint8_t> bad(3, 0);
    for (const auto& err : {dec.decode(bad).error(), dec.decode_timed(bad, 1.0).error()}) {
        EXPECT_EQ(err.kind, ErrorKind::Value);
        EXPECT_EQ(err.message, "Syndrome length 3 != n_checks 2");
    }
    EXPECT_EQ(dec.bp_decode({}, 5).error().message, "Syndrome length 0 != n_checks 2");
}

TEST(BpOsdDefinedDecoder, DegenerateSizesDoNotCrash) {
    // No qubits at all: the only answer is the empty correction.
    auto empty = BpOsdFamily::create({{0}}, size_t{0}, 0.1).value();
    EXPECT_TRUE(empty.decode(std::vector<uint8_t>{1}).value().empty());
    EXPECT_TRUE(empty.bp_decode(std::vector<uint8_t>{1}, 10).value().empty());
    // No checks: the zero correction is the solution.
    auto none = BpOsdFamily::create({}, size_t{3}, 0.1).value();
    EXPECT_EQ(none.decode({}).value(), std::vector<uint8_t>(3, 0));
    // NaN error rate: posteriors are NaN, OSD still solves the syndrome.
    const CheckList checks{{0, 1}, {1, 2}};
    auto nan = BpOsdFamily::create(checks, std::nullopt, std::numeric_limits<double>::quiet_NaN()).value();
    const std::vector<uint8_t> s{1, 0};
    EXPECT_EQ(syndrome_of(checks, 3, nan.decode(s).value()), s);
}

// OSD takes the columns BP believes flipped: a single flip on a chain is
// returned as itself, never as its complement (a logical error), even where
// the hard decision alone would have been right.
TEST(BpOsdDefinedDecoder, SingleFlipsOnAChainComeBackExactly) {
    for (uint32_t d : {5u, 7u, 11u}) {
        CheckList chain;
        for (uint32_t i = 0; i + 1 < d; ++i) chain.push_back({i, i + 1});
        for (double p : {0.01, 0.05, 0.1}) {
            auto decoder = BpOsdFamily::create(chain, std::nullopt, p).value();
            for (uint32_t q = 0; q < d; ++q) {
                std::vector<uint8_t> error(d, 0), syndrome(d - 1, 0);
                error[q] = 1;
                if (q > 0) syndrome[q - 1] = 1;
                if (q + 1 < d) syndrome[q] = 1;
                EXPECT_EQ(decoder.decode(syndrome).value(), error) << "d=" << d << " p=" << p << " q=" << q;
            }
        }
    }
}

}  // namespace
}  // namespace vornex
