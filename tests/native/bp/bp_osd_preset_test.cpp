// BPOSDDecoder's defined behaviour runs as a preset of the configurable
// engine; the first implementation, kept in bp_osd_reference.*, is the
// reference it must reproduce byte for byte: corrections, posteriors (bit
// patterns, NaN included), decodes under a spent budget, batch rows and
// error texts, on seeded random codes of several shapes and priors.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "bp/bp_osd_family.h"
#include "bp/bp_osd_reference.h"
#include "code/generators.h"
#include "code/rotated_sector.h"

namespace vornex {
namespace {

namespace ref = bp_osd_reference;

struct Code {
    CheckList checks;
    std::optional<size_t> n_qubits;
};

// Small irregular codes: weights 1..6, qubits repeated inside a check, now
// and then indices past an explicit n_qubits, no n_qubits at all, no checks
// or no qubits.
Code small_code(std::mt19937_64& rng) {
    Code code;
    const size_t nq = 1 + rng() % 14;
    const size_t overhang = rng() % 5 == 0 ? 3 : 0;
    code.checks.resize(1 + rng() % 12);
    for (auto& check : code.checks)
        for (size_t k = 1 + rng() % 6; k > 0; --k) check.push_back(static_cast<uint32_t>(rng() % (nq + overhang)));
    if (rng() % 4) code.n_qubits = nq + (rng() % 3 == 0 ? rng() % 4 : 0);
    // Degenerate sizes: no checks, or no qubits.
    if (rng() % 25 == 0) code.checks.clear();
    if (rng() % 25 == 0) code.n_qubits = 0;
    return code;
}

// Sparse codes of up to two hundred columns with column weight 3 (loopy, as
// LDPC codes are), half of them wide, with more columns than checks (as
// detector error models are).
Code ldpc_code(std::mt19937_64& rng) {
    Code code;
    const size_t nc = 10 + rng() % 40;
    const size_t nq = nc + rng() % (rng() % 2 ? 3 * nc : nc / 2 + 1);
    code.checks.resize(nc);
    for (uint32_t q = 0; q < nq; ++q)
        for (int k = 0; k < 3; ++k) code.checks[rng() % nc].push_back(q);
    code.n_qubits = nq;
    return code;
}

Code layout_code(std::mt19937_64& rng) {
    const uint32_t d = 3 + static_cast<uint32_t>(rng() % 5);
    switch (rng() % 3) {
        case 0: {
            auto g = generate_surface_code(d).value();
            return {std::move(g.checks), g.n_qubits};
        }
        case 1:
            return {rotated_sector_top_bottom(d | 1), size_t{(d | 1) * (d | 1)}};
        default: {
            auto g = generate_ring_code(d).value();
            return {std::move(g.checks), std::nullopt};
        }
    }
}

// Rates across the clamp: ordinary values, 0 and 1, outside [0, 1], NaN.
double random_rate(std::mt19937_64& rng) {
    switch (rng() % 10) {
        case 0: return 0.0;
        case 1: return 1.0;
        case 2: return rng() % 2 ? -0.5 : 3.0;
        case 3: return std::numeric_limits<double>::quiet_NaN();
        case 4: return 0.5;
        default: return 0.0005 + (rng() % 1000) / 2000.0;
    }
}

size_t n_qubits_of(const Code& code) { return code.n_qubits ? *code.n_qubits : derived_n_qubits(code.checks); }

// Errors of rate p pushed through the checks (in the column space), or
// random bytes; bytes 2 and 3 now and then, which BP and OSD read apart.
std::vector<uint8_t> random_syndrome(std::mt19937_64& rng, const Code& code) {
    const size_t nq = n_qubits_of(code);
    std::vector<uint8_t> s(code.checks.size(), 0);
    if (rng() % 3) {
        const unsigned percent = 1 + rng() % 15;
        std::vector<uint8_t> e(nq);
        for (auto& b : e) b = rng() % 100 < percent;
        for (size_t c = 0; c < s.size(); ++c)
            for (uint32_t q : code.checks[c])
                if (q < nq) s[c] ^= e[q];
    } else {
        for (auto& b : s) b = rng() % 2;
    }
    if (rng() % 5 == 0)
        for (auto& b : s) b |= static_cast<uint8_t>(rng() % 4 == 0) << 1;
    return s;
}

void expect_same_bits(const std::vector<double>& got, const std::vector<double>& want, const std::string& where) {
    ASSERT_EQ(got.size(), want.size()) << where;
    for (size_t q = 0; q < got.size(); ++q)
        ASSERT_EQ(std::bit_cast<uint64_t>(got[q]), std::bit_cast<uint64_t>(want[q]))
            << where << " qubit " << q << ": " << got[q] << " vs " << want[q];
}

// Each code gets several shots through every entry point; the engine and the
// reference each keep their workspaces across shots, as a decoder object does.
TEST(BpOsdPreset, ReproducesTheReferenceOnEveryEntryPoint) {
    std::mt19937_64 rng(0x5EED'B05D);
    size_t shots = 0, nan_codes = 0, repeat_codes = 0, wide_codes = 0, odd_bytes = 0;
    for (int trial = 0; trial < 900; ++trial) {
        const Code code = trial % 3 == 0 ? small_code(rng) : trial % 3 == 1 ? ldpc_code(rng) : layout_code(rng);
        const double p = random_rate(rng);
        auto ours = BpOsdFamily::create(code.checks, code.n_qubits, p).value();
        auto want = ref::BpOsdDecoder::create(code.checks, code.n_qubits, p).value();
        ASSERT_EQ(ours.n_qubits(), want.n_qubits());
        ASSERT_EQ(ours.n_checks(), want.n_checks());
        nan_codes += std::isnan(p);
        wide_codes += want.n_qubits() > 2 * want.n_checks();
        for (const auto& q2c : want.code().qubit_to_checks)
            if (std::adjacent_find(q2c.begin(), q2c.end()) != q2c.end()) {
                ++repeat_codes;
                break;
            }
        std::vector<uint8_t> batch;
        std::vector<std::vector<uint8_t>> singles;
        for (int shot = 0; shot < 8; ++shot, ++shots) {
            const auto s = random_syndrome(rng, code);
            odd_bytes += std::any_of(s.begin(), s.end(), [](uint8_t b) { return b > 1; });
            const std::string where = "trial " + std::to_string(trial) + " shot " + std::to_string(shot);
            const auto correction = ours.decode(s).value();
            ASSERT_EQ(correction, want.decode(s).value()) << where;
            const size_t iterations = rng() % 60;
            expect_same_bits(ours.bp_decode(s, iterations).value(), want.bp_decode(s, iterations).value(), where);
            if (shot == 0) {
                // A spent budget runs no iteration: OSD on the prior order.
                ASSERT_EQ(ours.decode_timed(s, 0.0).value(), want.decode_timed(s, 0.0).value()) << where;
                ASSERT_EQ(ours.decode_timed(s, 1e9).value(), correction) << where;
            }
            batch.insert(batch.end(), s.begin(), s.end());
            singles.push_back(correction);
        }
        const auto rows = ours.batch_decode(batch, singles.size());
        for (size_t i = 0; i < singles.size(); ++i)
            ASSERT_TRUE(std::equal(singles[i].begin(), singles[i].end(), rows.begin() + i * ours.n_qubits()))
                << "trial " << trial << " batch row " << i;
    }
    EXPECT_EQ(shots, 7200u);
    EXPECT_GT(nan_codes, 40u);
    EXPECT_GT(repeat_codes, 100u);
    EXPECT_GT(wide_codes, 100u);
    EXPECT_GT(odd_bytes, 300u);
}

TEST(BpOsdPreset, RefusalsMatchTheReference) {
    // Sizes past the 32-bit ids are refused before anything is allocated.
    const size_t too_many = size_t{1} << 32;
    const auto ours = BpOsdFamily::create({{0, 1}}, too_many, 0.1);
    const auto want = ref::BpOsdDecoder::create({{0, 1}}, too_many, 0.1);
    ASSERT_FALSE(ours.ok());
    EXPECT_EQ(ours.error().kind, ErrorKind::Value);
    EXPECT_EQ(ours.error().message, want.error().message);
    EXPECT_EQ(ours.error().message, "Code too large: 1 checks x 4294967296 qubits");

    auto family = BpOsdFamily::create({{0, 1}, {1, 2}}, std::nullopt, 0.1).value();
    auto reference = ref::BpOsdDecoder::create({{0, 1}, {1, 2}}, std::nullopt, 0.1).value();
    const std::vector<uint8_t> three(3, 1);
    EXPECT_EQ(family.decode(three).error().message, reference.decode(three).error().message);
    EXPECT_EQ(family.decode_timed(three, 1.0).error().message, reference.decode_timed(three, 1.0).error().message);
    EXPECT_EQ(family.bp_decode(three, 3).error().message, reference.bp_decode(three, 3).error().message);
}

}  // namespace
}  // namespace vornex
