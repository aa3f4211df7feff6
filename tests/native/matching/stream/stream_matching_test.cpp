// The stream decoder against the global one and against the syndrome it
// must explain, on a repetition code with measurement errors; its
// refusals; and the latency histogram against a sorted reference.
#include "matching/stream/stream_matching.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "dem/dem_graph.h"
#include "dem/dem_reader.h"
#include "matching/matching_decoder.h"

namespace vornex {
namespace {

using Bytes = std::vector<uint8_t>;

// A distance-d repetition code measured for `rounds` rounds: detector
// (t, i) = t * (d - 1) + i at coordinates (i, t); data errors within a
// round, measurement errors between a round and the next. Probabilities
// differ by position so that weights are not uniform.
std::string repetition_model(uint32_t d, uint32_t rounds, bool coordinates = true) {
    std::string text;
    const uint32_t checks = d - 1;
    auto det = [&](uint32_t t, uint32_t i) { return " D" + std::to_string(t * checks + i); };
    for (uint32_t t = 0; t < rounds; ++t) {
        for (uint32_t q = 0; q < d; ++q) {
            std::string targets;
            if (q > 0) targets += det(t, q - 1);
            if (q < checks) targets += det(t, q);
            if (q == 0) targets += " L0";
            text += "error(0.0" + std::to_string(1 + q % 3) + ")" + targets + "\n";
        }
        for (uint32_t i = 0; t + 1 < rounds && i < checks; ++i) text += "error(0.02)" + det(t, i) + det(t + 1, i) + "\n";
    }
    for (uint32_t t = 0; coordinates && t < rounds; ++t)
        for (uint32_t i = 0; i < checks; ++i)
            text += "detector(" + std::to_string(i) + ", " + std::to_string(t) + ")" + det(t, i) + "\n";
    return text;
}

DetectorErrorModel model_of(const std::string& text) { return read_detector_error_model(text).value(); }

StreamMatchingDecoder stream_of(const DetectorErrorModel& model, StreamOptions options) {
    auto decoder = StreamMatchingDecoder::create(model, options);
    EXPECT_TRUE(decoder.ok()) << decoder.error().message;
    return std::move(decoder).value();
}

std::string error_of(const DetectorErrorModel& model, StreamOptions options) {
    auto decoder = StreamMatchingDecoder::create(model, options);
    return decoder.ok() ? "(built)" : decoder.error().message;
}

// Shots drawn from the model's own errors, so that they look like real ones.
std::vector<Bytes> sample_shots(const DetectorErrorModel& model, size_t n, uint32_t seed, double scale) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<Bytes> shots(n, Bytes(model.num_detectors, 0));
    std::vector<uint32_t> flipped;
    for (Bytes& shot : shots) {
        for (size_t column = 0; column < model.num_errors(); ++column) {
            if (unit(rng) >= model.probability[column] * scale) continue;
            column_detectors(model, column, flipped);
            for (const uint32_t det : flipped) shot[det] ^= 1;
        }
    }
    return shots;
}

TEST(StreamMatching, RoundsComeFromTimeOrFromIdBlocks) {
    const auto model = model_of(repetition_model(5, 9));
    const auto by_time = stream_of(model, {});
    EXPECT_EQ(by_time.model_rounds(), 9u);
    EXPECT_EQ(by_time.distance(), 5u);
    // Defaults: commit and buffer of the distance.
    EXPECT_EQ(by_time.commit(), 5u);
    EXPECT_EQ(by_time.window(), 10u);
    const auto by_blocks = stream_of(model_of(repetition_model(5, 9, false)), {.detectors_per_round = 4});
    EXPECT_EQ(by_blocks.model_rounds(), 9u);
    // Every round but the last is alike, so the stream may be of any length.
    const auto longer = stream_of(model, {.rounds = 1000});
    EXPECT_EQ(longer.round_size(999).value(), 4u);
    EXPECT_EQ(longer.round_size(1000).error().message, "round 1000 is past the stream's 1000 rounds");
}

TEST(StreamMatching, RefusalsAreExact) {
    const auto model = model_of(repetition_model(3, 6));
    EXPECT_EQ(error_of(model_of(repetition_model(3, 6, false)), {}),
              "detector 0 has no coordinates to take its round from; give detectors_per_round");
    EXPECT_EQ(error_of(model, {.detectors_per_round = 0}), "detectors_per_round must be > 0");
    EXPECT_EQ(error_of(model, {.commit = 0}), "commit must be > 0");
    EXPECT_EQ(error_of(model, {.window = 3, .commit = 3}),
              "window must be larger than commit (the rest of the window is the buffer), got window=3, commit=3");
    EXPECT_EQ(error_of(model, {.rounds = 1}), "rounds must be 0 (no fixed end) or at least 2 for this model, got 1");
    // Two middle rounds differ: nothing repeats.
    const auto uneven = model_of(repetition_model(3, 4) + "error(0.3) D2 D4\n");
    EXPECT_EQ(error_of(uneven, {.rounds = 9}),
              "the model's rounds do not repeat, so a stream has its 4 rounds; got rounds=9");
}

TEST(StreamMatching, BadRoundsAreRefusedAndChangeNothing) {
    const auto model = model_of(repetition_model(3, 4));
    auto decoder = stream_of(model, {.window = 2, .commit = 1});
    const Bytes quiet(2, 0), fired{1, 0};
    EXPECT_EQ(decoder.update(Bytes{0, 0, 0}).error().message, "round 0 has 3 detection events, expected 2");
    EXPECT_EQ(decoder.update(Bytes{0, 2}).error().message, "round 0: detection events must be 0 or 1, got 2 at index 1");
    EXPECT_EQ(decoder.extend(Bytes{0, 0, 1}).error().message,
              "events end inside round 1 (1 of its 2 detection events given)");
    EXPECT_EQ(decoder.current_round(), 0u);
    for (int round = 0; round < 4; ++round) ASSERT_TRUE(decoder.update(round == 1 ? fired : quiet).ok());
    EXPECT_EQ(decoder.update(quiet).error().message, "all 4 rounds of this experiment are in; call flush() to start the next");
    EXPECT_EQ(decoder.flush(quiet).error().message,
              "the experiment already ended with its final round; call flush() without final_round to start the next");
    EXPECT_EQ(decoder.current_round(), 4u);
    // A model whose rounds do not repeat ends only at its own last round.
    auto fixed = stream_of(model_of(repetition_model(3, 4) + "error(0.3) D2 D4\n"), {.window = 2, .commit = 1});
    ASSERT_TRUE(fixed.update(quiet).ok());
    EXPECT_EQ(fixed.flush(quiet).error().message,
              "the model's rounds do not repeat, so its final round is round 3; 1 rounds were given");
    EXPECT_EQ(fixed.current_round(), 1u);
}

// With a window over the whole experiment the stream decoder is the global
// decoder (same graph, same integer weights, same engine).
TEST(StreamMatching, OneWindowIsGlobalMatching) {
    const auto model = model_of(repetition_model(7, 12));
    const auto global = MatchingDecoder::from_model(model).value();
    auto decoder = stream_of(model, {.window = 13, .commit = 12});
    const auto shots = sample_shots(model, 500, 7, 2.0);
    for (const Bytes& shot : shots) {
        const auto expected = global.predict_observables(shot, 1, false, false).value();
        ASSERT_EQ(decoder.extend(shot).value(), expected[0]);
        ASSERT_TRUE(decoder.flush(std::nullopt).ok());
    }
}

// Whatever the windows, the committed edges explain the detection events
// exactly and flip the observables the decoder reports; feeding rounds one
// by one, in chunks, or as whole shots commits the same.
TEST(StreamMatching, CommittedEdgesExplainTheSyndrome) {
    const auto model = model_of(repetition_model(5, 15));
    const auto graph = build_dem_graph(model).value();
    const auto shots = sample_shots(model, 300, 11, 3.0);
    for (const auto& [window, commit] : {std::pair{2u, 1u}, {6u, 3u}, {9u, 4u}, {20u, 5u}}) {
        auto decoder = stream_of(model, {.window = window, .commit = commit});
        auto batch = decoder.predict_observables(
            [&] {
                Bytes rows;
                for (const Bytes& shot : shots) rows.insert(rows.end(), shot.begin(), shot.end());
                return rows;
            }(),
            shots.size(), false, true);
        ASSERT_TRUE(batch.ok());
        decoder.record_edges(true);
        for (size_t k = 0; k < shots.size(); ++k) {
            const Bytes& shot = shots[k];
            Bytes explained(model.num_detectors, 0);
            uint64_t edge_flips = 0;
            uint64_t flips = 0;
            for (uint32_t round = 0; round < 15; ++round) {
                flips = decoder.update(std::span(shot).subspan(round * 4, 4)).value();
                for (const auto& [r, e] : decoder.last_edges()) {
                    explained[graph.edges[e].u] ^= 1;
                    if (graph.edges[e].v != kDemBoundary) explained[graph.edges[e].v] ^= 1;
                    for (const uint32_t o : graph.observables_of(e)) edge_flips ^= uint64_t{1} << o;
                    EXPECT_EQ(r, graph.edges[e].u / 4);
                }
            }
            ASSERT_EQ(explained, shot) << window << "/" << commit << " shot " << k;
            ASSERT_EQ(edge_flips, flips);
            ASSERT_EQ(decoder.flush(std::nullopt).value(), flips);
            ASSERT_EQ(flips, batch.value()[k]);
            ASSERT_TRUE(decoder.extend(std::span(shot).first(28)).ok());
            ASSERT_TRUE(decoder.extend(std::span(shot).subspan(28, 28)).ok());
            ASSERT_EQ(decoder.flush(std::span(shot).subspan(56)).value(), flips);
        }
    }
}

// Parallel windows give the same flips on the pool as in order, and stay
// close to global matching with a buffer of the distance.
TEST(StreamMatching, ParallelWindowsAgreeWithGlobalMatching) {
    const auto model = model_of(repetition_model(5, 40));
    const auto global = MatchingDecoder::from_model(model).value();
    const auto decoder = stream_of(model, {.window = 10, .commit = 5});
    const auto shots = sample_shots(model, 400, 5, 1.0);
    size_t agree = 0;
    for (const Bytes& shot : shots) {
        const auto flips = decoder.decode_stream(shot, true).value();
        ASSERT_EQ(decoder.decode_stream(shot, false).value(), flips);
        agree += flips == global.predict_observables(shot, 1, false, false).value()[0];
    }
    EXPECT_GE(agree, 396u);
    EXPECT_EQ(decoder.decode_stream(Bytes(3, 0), true).error().message,
              "events have 3 detection events, expected 160 for 40 rounds");
}

TEST(LatencyHistogram, QuantilesBoundTheExactOnesWithinABucket) {
    std::mt19937_64 rng(3);
    std::lognormal_distribution<double> spread(8.0, 2.0);
    stream::LatencyHistogram histogram;
    std::vector<uint64_t> values;
    for (int k = 0; k < 20000; ++k) {
        const auto v = static_cast<uint64_t>(spread(rng));
        values.push_back(v);
        histogram.record(v);
    }
    std::sort(values.begin(), values.end());
    for (const double q : {0.0, 0.5, 0.9, 0.99, 1.0}) {
        const uint64_t exact = values[static_cast<size_t>(q * static_cast<double>(values.size() - 1))];
        const uint64_t reported = histogram.quantile(q);
        EXPECT_GE(reported, exact) << q;
        EXPECT_LE(static_cast<double>(reported), static_cast<double>(exact) * (1 + 1.0 / 32) + 1) << q;
    }
    EXPECT_EQ(histogram.max(), values.back());
    EXPECT_EQ(histogram.count(), values.size());
}

}  // namespace
}  // namespace vornex
