#include "learned/neural_predecoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <utility>

#include "base/wyrand.h"
#include "learned/training_limits.h"

namespace vornex {
namespace {

NeuralPredecoder make(uint64_t i, uint64_t o, std::optional<uint64_t> h1, std::optional<uint64_t> h2) {
    return NeuralPredecoder::create(i, o, h1, h2).value();
}

// Plain forward pass from the definition.
std::vector<double> reference_predict(const NeuralPredecoder& net, const std::vector<uint8_t>& s) {
    auto layer = [](const Matrix& w, const std::vector<double>& b, const std::vector<double>& x, bool last) {
        std::vector<double> out;
        for (size_t i = 0; i < w.rows; ++i) {
            double acc = 0;
            for (size_t j = 0; j < x.size(); ++j) acc += w.row(i)[j] * x[j];
            const double p = std::clamp(acc + b[i], -50.0, 50.0);
            out.push_back(last ? (p >= 0 ? 1 / (1 + std::exp(-p)) : std::exp(p) / (1 + std::exp(p)))
                               : (p > 0 ? p : 0.01 * p));
        }
        return out;
    };
    const std::vector<double> x(s.begin(), s.end());
    return layer(net.w3(), net.b3(), layer(net.w2(), net.b2(), layer(net.w1(), net.b1(), x, false), false), true);
}

double bce(const NeuralPredecoder& net, const std::vector<uint8_t>& s, const std::vector<uint8_t>& t) {
    const auto y = net.predict(s).value();
    double loss = 0;
    for (size_t k = 0; k < y.size(); ++k) loss -= t[k] ? std::log(y[k]) : std::log(1 - y[k]);
    return loss;
}

TEST(NeuralPredecoderTest, SizesSeedAndFreshOutputs) {
    const NeuralPredecoder net = make(7, 4, std::nullopt, std::nullopt);
    EXPECT_EQ(net.n_hidden1(), 5u);
    EXPECT_EQ(net.n_hidden2(), 5u);
    EXPECT_EQ(make(7, 4, 3, std::nullopt).n_hidden2(), 5u);
    EXPECT_TRUE(net == make(7, 4, 5, 5));
    // The first weight is the first draw of the size-seeded generator.
    Wyrand rng((uint64_t{7} << 48) ^ (uint64_t{4} << 32) ^ (uint64_t{5} << 16) ^ 5 ^ 0x9e3779b97f4a7c15ull);
    EXPECT_EQ(net.w1().row(0)[0], (2 * rng.next_unit() - 1) * std::sqrt(2.0 / 7));
    EXPECT_EQ(net.w1().row(0)[1], (2 * rng.next_unit() - 1) * std::sqrt(2.0 / 7));
    // Zero biases: an all-zero syndrome gives exactly 0.5, and 0.5 decodes to 1.
    const std::vector<uint8_t> zero(7, 0);
    EXPECT_EQ(net.predict(zero).value(), std::vector<double>(4, 0.5));
    EXPECT_EQ(net.decode(zero).value(), std::vector<uint8_t>(4, 1));
}

// The three matrices together must fit in memory, whatever each one alone does.
TEST(NeuralPredecoderTest, SizesBeyondMemoryAreRefused) {
    for (auto [n_input, hidden] : {std::pair<uint64_t, uint64_t>{100000, 100000}, {UINT64_MAX, 1}, {1, UINT64_MAX}}) {
        const auto net = NeuralPredecoder::create(n_input, 2, hidden, 2);
        ASSERT_FALSE(net.ok());
        EXPECT_EQ(net.error().message, "NeuralPredecoder sizes are too large to allocate");
    }
}

TEST(NeuralPredecoderTest, ForwardMatchesReferenceIncludingWideBytes) {
    std::mt19937_64 rng(5);
    const NeuralPredecoder net = make(6, 3, 4, 5);
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<uint8_t> s(6);
        for (auto& b : s) b = static_cast<uint8_t>(rng() % 4);
        ASSERT_EQ(net.predict(s).value(), reference_predict(net, s));
    }
}

TEST(NeuralPredecoderTest, ErrorsLeaveWeightsUnchanged) {
    NeuralPredecoder net = make(4, 2, 3, 3);
    const NeuralPredecoder before = net;
    const std::vector<uint8_t> three(3, 0);
    EXPECT_EQ(net.predict(three).error().message, "Syndrome length 3 != n_input 4");
    EXPECT_EQ(net.decode(three).error().message, "Syndrome length 3 != n_input 4");
    const std::vector<uint8_t> ten(10, 1), three_targets(3, 0), no_targets;
    auto status = net.train(ten, three_targets, 1, 0.1);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().kind, ErrorKind::Value);
    EXPECT_EQ(status.error().message, "corrections must hold n_samples * n_output = 4 elements, got 3");
    EXPECT_TRUE(net == before);
    // Fewer elements than one sample: nothing to learn, nothing changes.
    ASSERT_TRUE(net.train(three, no_targets, 5, 0.1).ok());
    ASSERT_TRUE(net.train(ten, std::vector<uint8_t>(4, 1), 0, 0.1).ok());
    EXPECT_TRUE(net == before);
    // Ten elements with n_input 4 are two samples.
    ASSERT_TRUE(net.train(ten, std::vector<uint8_t>(4, 1), 1, 0.1).ok());
    EXPECT_FALSE(net == before);
    NeuralPredecoder no_input = make(0, 2, 1, 1);
    const auto empty = no_input.train(ten, no_targets, 1, 0.1);
    EXPECT_EQ(empty.error().kind, ErrorKind::Value);
    EXPECT_EQ(empty.error().message, "NeuralPredecoder::train requires n_input >= 1");
}

// Counts that cannot finish are refused before the first step, also when
// there is nothing to train on; the limits themselves are accepted.
TEST(NeuralPredecoderTest, TrainingTooLargeIsRefusedUpFront) {
    NeuralPredecoder net = make(4, 2, 3, 3);
    const NeuralPredecoder before = net;
    const std::vector<uint8_t> eight(8, 1), four(4, 1), none;
    for (uint64_t epochs : {uint64_t{1} << 31, uint64_t{1} << 62, ~uint64_t{0}}) {
        auto status = net.train(eight, four, epochs, 0.1);
        ASSERT_FALSE(status.ok());
        EXPECT_EQ(status.error().kind, ErrorKind::Value);
        EXPECT_EQ(status.error().message, "n_epochs must be <= 100000000, got " + std::to_string(epochs));
        EXPECT_EQ(net.train(none, none, epochs, 0.1).error().message, status.error().message);
    }
    EXPECT_TRUE(net == before);
    // No samples: even the largest accepted count returns at once.
    ASSERT_TRUE(net.train(none, none, kMaxTrainingEpochs, 0.1).ok());
    // Within the epoch limit, a run whose arithmetic is out of reach.
    const std::vector<uint8_t> samples(4 * 200'000, 0), targets(2 * 200'000, 0);
    auto status = net.train(samples, targets, kMaxTrainingEpochs, 0.1);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().kind, ErrorKind::Value);
    EXPECT_EQ(status.error().message,
              "training too large: n_epochs 100000000 over 200000 samples is about 1.62e+15 operations (limit 1e+15)");
    EXPECT_TRUE(net == before);
}

// One step with a tiny learning rate moves every parameter by
// -eta * dBCE/dtheta, compared against central differences.
TEST(NeuralPredecoderTest, GradientStepMatchesFiniteDifferences) {
    std::mt19937_64 rng(17);
    for (int trial = 0; trial < 5; ++trial) {
        NeuralPredecoder net = make(5, 3, 4, 6);
        // Move the biases off zero so that some units sit on the leaky side.
        for (double& b : net.b1()) b = 0.3 * (static_cast<double>(rng() % 5) - 2.0);
        for (double& b : net.b2()) b = 0.3 * (static_cast<double>(rng() % 5) - 2.0);
        std::vector<uint8_t> s(5), t(3);
        for (auto& b : s) b = static_cast<uint8_t>(rng() % 2);
        for (auto& b : t) b = static_cast<uint8_t>(rng() % 2);
        const double eta = 1e-7;
        NeuralPredecoder stepped = net;
        ASSERT_TRUE(stepped.train(s, t, 1, eta).ok());
        auto check = [&](std::vector<double>& before, const std::vector<double>& after, const char* what) {
            for (size_t i = 0; i < before.size(); ++i) {
                const double saved = before[i], eps = 1e-6;
                before[i] = saved + eps;
                const double up = bce(net, s, t);
                before[i] = saved - eps;
                const double down = bce(net, s, t);
                before[i] = saved;
                const double fd = (up - down) / (2 * eps);
                const double step = (saved - after[i]) / eta;
                ASSERT_NEAR(step, fd, 1e-4 + 1e-3 * std::abs(fd)) << what << "[" << i << "]";
            }
        };
        check(net.w1().data, stepped.w1().data, "w1");
        check(net.b1(), stepped.b1(), "b1");
        check(net.w2().data, stepped.w2().data, "w2");
        check(net.b2(), stepped.b2(), "b2");
        check(net.w3().data, stepped.w3().data, "w3");
        check(net.b3(), stepped.b3(), "b3");
    }
}

TEST(NeuralPredecoderTest, LearnsRepetitionCodeCorrections) {
    // Distance-5 repetition code, single flips: syndrome -> flipped qubit.
    std::vector<uint8_t> syndromes, corrections;
    for (size_t q = 0; q < 5; ++q) {
        for (size_t c = 0; c < 4; ++c) syndromes.push_back(c == q || c + 1 == q);
        for (size_t k = 0; k < 5; ++k) corrections.push_back(k == q);
    }
    NeuralPredecoder net = make(4, 5, 16, 16);
    ASSERT_TRUE(net.train(syndromes, corrections, 400, 0.05).ok());
    for (size_t q = 0; q < 5; ++q) {
        const std::span<const uint8_t> s(syndromes.data() + 4 * q, 4);
        EXPECT_EQ(net.decode(s).value(),
                  std::vector<uint8_t>(corrections.begin() + 5 * q, corrections.begin() + 5 * q + 5))
            << "qubit " << q;
    }
}

}  // namespace
}  // namespace vornex
