#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <limits>
#include <random>

#include "code/generators.h"
#include "uf/stream/sliding_window.h"
#include "uf/stream/streaming.h"

namespace vornex {
namespace {

// Repetition code of three qubits: [1, 0] decodes to [1, 0, 0], [0, 0] to zeros.
const CheckList kChain{{0, 1}, {1, 2}};
const std::vector<uint8_t> kFired{1, 0};
const std::vector<uint8_t> kQuiet{0, 0};
const std::vector<uint8_t> kFiredCorrection{1, 0, 0};
const std::vector<uint8_t> kZero3{0, 0, 0};

SlidingWindowDecoder sliding(size_t window = 10, double decay = 0.8, const CheckList& checks = kChain) {
    return SlidingWindowDecoder::create(checks, std::nullopt, window, decay).value();
}

StreamingDecoder streaming(size_t history = kDefaultHistorySize, const CheckList& checks = kChain) {
    return StreamingDecoder::create(checks, std::nullopt, history).value();
}

// ---- Sliding window ----

TEST(SlidingWindow, ConstructionChecksInOrder) {
    auto d = sliding();
    EXPECT_EQ(d.window_size(), 10u);
    EXPECT_EQ(d.decay_factor(), 0.8);
    EXPECT_EQ(d.current_round(), 0u);
    EXPECT_EQ(d.n_qubits(), 3u);
    auto err = [](size_t w, double f, const CheckList& c) {
        return SlidingWindowDecoder::create(c, std::nullopt, w, f).error().message;
    };
    EXPECT_EQ(err(0, 2.0, {}), "window_size must be > 0");
    for (double bad : {1.5, -0.1, std::numeric_limits<double>::quiet_NaN()})
        EXPECT_EQ(err(1, bad, {}), "decay_factor must be in [0.0, 1.0]");
    EXPECT_EQ(err(1, 1.0, {}), build_check_graph({}, std::nullopt).error().message);  // passed on unchanged
    EXPECT_TRUE(SlidingWindowDecoder::create(kChain, std::nullopt, 1, 0.0).ok());
    EXPECT_TRUE(SlidingWindowDecoder::create(kChain, std::nullopt, 1, 1.0).ok());
}

TEST(SlidingWindow, DefaultWindowKeepsALoneFlashForFourRounds) {
    auto d = sliding();
    EXPECT_EQ(d.update(kFired).value(), kFiredCorrection);
    for (int round = 2; round <= 4; ++round) EXPECT_EQ(d.update(kQuiet).value(), kFiredCorrection) << round;
    EXPECT_EQ(d.update(kQuiet).value(), kZero3);
    // Two old flashes add up: 0.262 + 0.328 >= 0.5 at round 7, 0.210 + 0.262 < 0.5 at round 8.
    auto e = sliding();
    ASSERT_TRUE(e.update(kFired).ok());
    ASSERT_TRUE(e.update(kFired).ok());
    for (int round = 3; round <= 6; ++round) ASSERT_TRUE(e.update(kQuiet).ok());
    EXPECT_EQ(e.update(kQuiet).value(), kFiredCorrection);
    EXPECT_EQ(e.update(kQuiet).value(), kZero3);
}

TEST(SlidingWindow, ExtremeParameters) {
    std::mt19937_64 rng(1);
    auto one = sliding(1, 0.8);
    auto newest = sliding(10, 0.0);
    auto any = sliding(4, 1.0);
    for (int i = 0; i < 200; ++i) {
        const std::vector<uint8_t> r{static_cast<uint8_t>(rng() % 2), static_cast<uint8_t>(rng() % 2)};
        EXPECT_EQ(one.update(r).value(), one.decode(r).value());
        EXPECT_EQ(newest.update(r).value(), newest.decode(r).value());
    }
    ASSERT_TRUE(any.update(kFired).ok());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(any.update(kQuiet).value(), kFiredCorrection);
    EXPECT_EQ(any.update(kQuiet).value(), kZero3);
}

TEST(SlidingWindow, TwelveRoundsOverTenAndFlush) {
    auto d = sliding();
    for (uint8_t r = 0; r < 12; ++r) ASSERT_TRUE(d.update(std::vector<uint8_t>{r, 0}).ok());
    EXPECT_EQ(d.current_round(), 12u);
    ASSERT_EQ(d.held_rounds(), 10u);
    for (size_t p = 0; p < 10; ++p) EXPECT_EQ(d.held_round(p)[0], p + 2);
    d.flush();
    EXPECT_EQ(d.current_round(), 0u);
    EXPECT_EQ(d.held_rounds(), 0u);
    EXPECT_EQ(d.window_size(), 10u);
    EXPECT_EQ(d.update(kQuiet).value(), kZero3);
}

TEST(SlidingWindow, RejectedRoundChangesNothing) {
    auto d = sliding();
    ASSERT_TRUE(d.update(kFired).ok());
    const auto err = d.update(std::vector<uint8_t>{1, 0, 0}).error();
    EXPECT_EQ(err.message, "Expected syndrome length 2, got 3");
    EXPECT_EQ(d.decode({}).error().message, "Expected syndrome length 2, got 0");
    EXPECT_EQ(d.current_round(), 1u);
    EXPECT_EQ(d.held_rounds(), 1u);
    // decode leaves the window alone.
    EXPECT_EQ(d.decode(kQuiet).value(), kZero3);
    EXPECT_EQ(d.current_round(), 1u);
}

std::pair<CheckList, CheckGraph> repetition_code_and_graph(size_t distance) {
    CheckList checks = generate_repetition_code(distance).checks;
    CheckGraph graph = build_check_graph(checks, std::nullopt).value();
    return {std::move(checks), std::move(graph)};
}

// Feeds `steps` random rounds (bytes 0..3, one in `fire_one_in` non-zero),
// with a flush one time in `flush_one_in`, to `d` and to a plain deque of
// the last `keep` rounds: every update must equal decoding
// effective(deque) from scratch.
template <class Stream, class Effective>
void expect_plain_model(Stream& d, std::mt19937_64& rng, const CheckGraph& graph, size_t keep, int steps,
                        unsigned flush_one_in, unsigned fire_one_in, Effective effective) {
    std::deque<std::vector<uint8_t>> model;
    for (int step = 0; step < steps; ++step) {
        if (rng() % flush_one_in == 0) {
            d.flush();
            model.clear();
        }
        std::vector<uint8_t> r(graph.n_checks);
        for (auto& b : r) b = rng() % fire_one_in == 0 ? static_cast<uint8_t>(rng() % 4) : 0;
        model.push_back(r);
        if (model.size() > keep) model.pop_front();
        ASSERT_EQ(d.update(r).value(), decode(graph, effective(model))) << step;
    }
}

// The window's plain model: weights and scores recomputed from scratch on
// each update.
TEST(SlidingWindow, MatchesPlainModelOnRandomStreams) {
    std::mt19937_64 rng(17);
    const auto [checks, graph] = repetition_code_and_graph(9);
    for (int trial = 0; trial < 60; ++trial) {
        const size_t window = 1 + rng() % 7;
        const double decay = (rng() % 11) / 10.0;
        auto d = sliding(window, decay, checks);
        expect_plain_model(d, rng, graph, window, 40, 25, 4, [&](const std::deque<std::vector<uint8_t>>& model) {
            std::vector<uint8_t> effective(graph.n_checks);
            const size_t h = model.size();
            for (size_t k = 0; k < effective.size(); ++k) {
                double score = 0.0;
                for (size_t p = 0; p < h; ++p) score += std::pow(decay, double(h - 1 - p)) * model[p][k];
                effective[k] = score >= 0.5;
            }
            return effective;
        });
    }
}

// ---- Streaming ----

TEST(Streaming, ConstructionAndZeroHistory) {
    auto d = streaming();
    EXPECT_EQ(d.history_size(), 10u);
    EXPECT_EQ(d.n_checks(), 2u);
    const auto err = StreamingDecoder::create(kChain, std::nullopt, 0).error();
    EXPECT_EQ(err.kind, ErrorKind::Value);
    EXPECT_EQ(err.message, "history_size must be > 0");
    EXPECT_EQ(StreamingDecoder::create({{0, 1}}, size_t{1}, 3).error().message,
              build_check_graph({{0, 1}}, size_t{1}).error().message);
}

TEST(Streaming, RingDropsARoundOnTheTenthFollowingUpdate) {
    auto d = streaming();
    EXPECT_EQ(d.update(kFired).value(), kFiredCorrection);
    for (int k = 1; k <= 9; ++k) EXPECT_EQ(d.update(kQuiet).value(), kFiredCorrection) << k;
    EXPECT_EQ(d.update(kQuiet).value(), kZero3);
    EXPECT_EQ(d.head(), 1u);
    EXPECT_EQ(d.filled(), 10u);
    d.flush();
    EXPECT_EQ(d.head(), 0u);
    EXPECT_EQ(d.filled(), 0u);
    EXPECT_EQ(d.update(kQuiet).value(), kZero3);
}

TEST(Streaming, OrOfRawBytesFollowsBitZero) {
    // 2 alone reads as quiet; 2 | 1 = 3 reads as fired.
    auto d = streaming(3);
    EXPECT_EQ(d.update(std::vector<uint8_t>{2, 0}).value(), kZero3);
    EXPECT_EQ(d.update(kFired).value(), kFiredCorrection);
}

TEST(Streaming, RejectedRoundChangesNothing) {
    auto d = streaming(2);
    ASSERT_TRUE(d.update(kFired).ok());
    EXPECT_EQ(d.update(std::vector<uint8_t>{1}).error().message, "Expected syndrome length 2, got 1");
    EXPECT_EQ(d.head(), 1u);
    EXPECT_EQ(d.filled(), 1u);
    EXPECT_EQ(d.decode(kQuiet).value(), kZero3);
    EXPECT_EQ(d.update(kQuiet).value(), kFiredCorrection);
    EXPECT_EQ(d.update(kQuiet).value(), kZero3);
}

// The ring's plain model: the OR of the rounds held.
TEST(Streaming, MatchesPlainModelOnRandomStreams) {
    std::mt19937_64 rng(23);
    const auto [checks, graph] = repetition_code_and_graph(7);
    for (int trial = 0; trial < 60; ++trial) {
        const size_t history = 1 + rng() % 6;
        auto d = streaming(history, checks);
        expect_plain_model(d, rng, graph, history, 30, 20, 5, [&](const std::deque<std::vector<uint8_t>>& model) {
            std::vector<uint8_t> combined(graph.n_checks, 0);
            for (const auto& m : model)
                for (size_t k = 0; k < combined.size(); ++k) combined[k] |= m[k];
            return combined;
        });
    }
}

}  // namespace
}  // namespace vornex
