#include "matching/sparse_edge_matcher.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "base/wyrand.h"
#include "code/check_graph.h"
#include "matching/sparse/sparse_reference.h"

namespace vornex {
namespace {

using sparse::GraphEdge;
using sparse::kBoundary;

// A small random graph, parallel edges and self-loops included, with real
// build weights.
struct WeightedGraph {
    uint32_t n = 0;
    std::vector<std::pair<uint32_t, uint32_t>> ends;  // kNoIndex for the boundary
    std::vector<double> weights;
};

WeightedGraph random_graph(Wyrand& rng) {
    const uint32_t n = 1 + static_cast<uint32_t>(rng.next_u64() % 12);
    const auto rg = testing::random_detector_graph(rng, n, rng.next_unit() * 0.5, 10, 0.5, 1 + rng.next_u64() % 2);
    WeightedGraph g;
    g.n = n;
    for (const GraphEdge& e : rg.edges) {
        g.ends.emplace_back(e.u, e.v == kBoundary ? kNoIndex : e.v);
        g.weights.push_back(rng.next_unit() * 20.0);
    }
    return g;
}

// The minimum weight of the events' perfect matching under `weights` after
// the engine's rounding, from the subset reference.
std::optional<int64_t> reference_weight(const WeightedGraph& g, std::span<const double> weights,
                                        const std::vector<uint32_t>& events, std::vector<int64_t>& integer) {
    integer = sparse::discretise_weights(weights).value();
    testing::RandomGraph rg;
    rg.n = g.n;
    for (size_t k = 0; k < g.ends.size(); ++k) {
        const auto [u, v] = g.ends[k];
        rg.edges.push_back({u, v == kNoIndex ? kBoundary : v, integer[k], 0, static_cast<uint32_t>(k)});
    }
    return testing::best_matching_by_subsets(testing::all_pairs(rg), g.n, events);
}

// Interleaved calls on two matchers, with new weights or the build weights,
// each give a minimum-weight correction of their own graph under the
// weights of that call: the thread's reweighted copy never leaks from one
// call or one matcher into the next.
TEST(SparseEdgeMatcher, EachCallMatchesAtMinimumWeightUnderItsOwnWeights) {
    Wyrand rng(11);
    size_t matched = 0;
    for (int trial = 0; trial < 300; ++trial) {
        const WeightedGraph graphs[2] = {random_graph(rng), random_graph(rng)};
        const SparseEdgeMatcher matchers[2] = {SparseEdgeMatcher::create(graphs[0].n, graphs[0].ends, graphs[0].weights).value(),
                                               SparseEdgeMatcher::create(graphs[1].n, graphs[1].ends, graphs[1].weights).value()};
        for (int call = 0; call < 8; ++call) {
            const size_t which = rng.next_u64() % 2;
            const WeightedGraph& g = graphs[which];
            std::vector<double> weights;
            if (rng.next_u64() % 2)
                for (size_t k = 0; k < g.ends.size(); ++k) weights.push_back(rng.next_unit() * 20.0);
            // Bit 0 decides; higher bits are noise the matcher must ignore.
            std::vector<uint8_t> syndrome(g.n);
            std::vector<uint32_t> events;
            for (uint32_t v = 0; v < g.n; ++v) {
                const bool fired = rng.next_unit() < 0.4;
                syndrome[v] = static_cast<uint8_t>(fired | (rng.next_u64() % 2) << 1);
                if (fired) events.push_back(v);
            }
            std::vector<int64_t> integer;
            const auto expected = reference_weight(g, weights.empty() ? std::span<const double>(g.weights)
                                                                      : std::span<const double>(weights),
                                                   events, integer);
            std::vector<uint8_t> flips(g.ends.size(), 7);
            const Status status = matchers[which].match(syndrome, weights, flips);
            SCOPED_TRACE("trial " + std::to_string(trial) + " call " + std::to_string(call));
            ASSERT_EQ(status.ok(), expected.has_value());
            if (!expected) {
                EXPECT_EQ(status.error().message.rfind("no perfect matching", 0), 0u) << status.error().message;
                continue;
            }
            std::vector<uint8_t> parity(g.n, 0);
            int64_t total = 0;
            for (size_t k = 0; k < flips.size(); ++k) {
                ASSERT_LE(flips[k], 1);
                if (!flips[k]) continue;
                total += integer[k];
                for (uint32_t x : {g.ends[k].first, g.ends[k].second})
                    if (x != kNoIndex) parity[x] ^= 1;
            }
            for (uint32_t v = 0; v < g.n; ++v) ASSERT_EQ(parity[v], syndrome[v] & 1) << "detector " << v;
            // Any edge set that fires exactly the events costs at least the
            // minimum matching, so equality means minimum weight.
            EXPECT_EQ(total, *expected);
            ++matched;
        }
    }
    EXPECT_GT(matched, 1500u);
}

// A call with a few overrides matches at the weight of a dense call whose
// weights are the build weights with those entries replaced (overrides kept
// below the heaviest build weight, so both round at the same scale), and
// leaves nothing behind for the next call.
TEST(SparseEdgeMatcher, OverridesMatchAsTheDenseCallWithTheSameWeights) {
    Wyrand rng(29);
    size_t compared = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const WeightedGraph g = random_graph(rng);
        if (g.ends.empty()) continue;
        const SparseEdgeMatcher matcher = SparseEdgeMatcher::create(g.n, g.ends, g.weights).value();
        const double top = *std::max_element(g.weights.begin(), g.weights.end());
        std::vector<double> dense = g.weights;
        std::vector<EdgeWeight> overrides;
        for (uint32_t k = 0; k < g.ends.size(); ++k)
            if (rng.next_unit() < 0.3) overrides.push_back({k, dense[k] = rng.next_unit() * top});
        std::vector<uint8_t> syndrome(g.n, 0);
        std::vector<uint32_t> events;
        for (uint32_t v = 0; v < g.n; ++v)
            if (rng.next_unit() < 0.4) syndrome[v] = 1, events.push_back(v);
        std::vector<uint8_t> flips(g.ends.size());
        std::vector<uint32_t> matched;
        const Status want = matcher.match(syndrome, dense, flips);
        const Status got = matcher.match_with_overrides(events, overrides, matched);
        SCOPED_TRACE("trial " + std::to_string(trial));
        ASSERT_EQ(got.ok(), want.ok());
        if (!want.ok()) continue;
        const std::vector<int64_t> integer = sparse::discretise_weights(dense).value();
        int64_t want_total = 0, got_total = 0;
        std::vector<uint8_t> parity(g.n, 0);
        for (size_t k = 0; k < flips.size(); ++k) want_total += flips[k] ? integer[k] : 0;
        for (const uint32_t k : matched) {
            got_total += integer[k];
            for (uint32_t x : {g.ends[k].first, g.ends[k].second})
                if (x != kNoIndex) parity[x] ^= 1;
        }
        EXPECT_EQ(parity, syndrome);
        EXPECT_EQ(got_total, want_total);
        // The build weights are back: no overrides now match as a call with none.
        ASSERT_TRUE(matcher.match(syndrome, {}, flips).ok());
        ASSERT_TRUE(matcher.match_with_overrides(events, {}, matched).ok());
        std::vector<uint8_t> again(g.ends.size(), 0);
        for (const uint32_t k : matched) again[k] = 1;
        EXPECT_EQ(again, flips);
        ++compared;
    }
    EXPECT_GT(compared, 200u);
    const WeightedGraph g = random_graph(rng);
    const SparseEdgeMatcher matcher = SparseEdgeMatcher::create(g.n, g.ends, g.weights).value();
    std::vector<uint32_t> matched;
    const EdgeWeight bad[] = {{static_cast<uint32_t>(g.ends.size()), 1.0}};
    EXPECT_FALSE(matcher.match_with_overrides({}, bad, matched).ok());
}

TEST(SparseEdgeMatcher, RefusesMismatchedLengths) {
    const std::vector<std::pair<uint32_t, uint32_t>> ends{{0, 1}, {1, kNoIndex}};
    EXPECT_EQ(SparseEdgeMatcher::create(2, ends, std::vector<double>{1.0}).error().message,
              "weights has 1 entries, expected one per edge (2)");
    const auto m = SparseEdgeMatcher::create(2, ends, std::vector<double>{1.0, 2.0}).value();
    std::vector<uint8_t> flips(2);
    EXPECT_EQ(m.match(std::vector<uint8_t>{1}, {}, flips).error().message,
              "syndrome and edge flips have 1 and 2 bytes, expected 2 and 2");
    EXPECT_EQ(m.match(std::vector<uint8_t>{1, 0}, std::vector<double>{1.0}, flips).error().message,
              "weights has 1 entries, expected one per edge (2)");
    EXPECT_TRUE(m.match(std::vector<uint8_t>{1, 0}, {}, flips).ok());
    EXPECT_EQ(flips, (std::vector<uint8_t>{1, 1}));
}

}  // namespace
}  // namespace vornex
