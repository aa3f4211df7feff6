#include "matching/exact_matcher.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "base/wyrand.h"
#include "matching/sparse/sparse_reference.h"

namespace vornex {
namespace {

using sparse::GraphEdge;
using sparse::kBoundary;
using sparse::ObsMask;

// A random graph without self-loops or parallel edges (the shape of a
// model's graph view), its edge ids its positions.
testing::RandomGraph simple_graph(Wyrand& rng) {
    const uint32_t n = 1 + static_cast<uint32_t>(rng.next_u64() % 11);
    testing::RandomGraph g = testing::random_detector_graph(rng, n, rng.next_unit() * 0.5, 12, 0.5, 1 + rng.next_u64() % 2);
    std::set<std::pair<uint32_t, uint32_t>> seen;
    std::vector<GraphEdge> kept;
    for (GraphEdge e : g.edges) {
        if (e.u == e.v || !seen.insert({e.u, e.v}).second) continue;
        e.id = static_cast<uint32_t>(kept.size());
        kept.push_back(e);
    }
    g.edges = kept;
    return g;
}

// Each shot, with or without weights of its own, gets a minimum-weight
// matching of its graph under exactly that shot's weights: overrides never
// leak into the next shot or into another matcher's shots on the thread,
// and the edges returned, or the pairs with their paths, are a correction
// of that weight.
TEST(ExactMatcher, EveryShotMatchesAtMinimumWeightUnderItsOwnWeights) {
    Wyrand rng(23);
    size_t checked = 0;
    for (int trial = 0; trial < 300; ++trial) {
        const testing::RandomGraph graphs[2] = {simple_graph(rng), simple_graph(rng)};
        std::vector<ExactMatcher> matchers;
        for (const auto& g : graphs)
            matchers.push_back(ExactMatcher::create(sparse::build_matching_graph(g.n, g.edges).value(), g.edges.size(),
                                                    0.5).value());
        for (int call = 0; call < 10; ++call) {
            const size_t which = rng.next_u64() % 2;
            testing::RandomGraph g = graphs[which];
            const ExactMatcher& m = matchers[which];
            std::vector<EdgeWeight> overrides;
            const size_t n_overrides = g.edges.empty() ? 0 : rng.next_u64() % 5;
            for (size_t k = 0; k < n_overrides; ++k) {
                const auto e = static_cast<uint32_t>(rng.next_u64() % g.edges.size());
                overrides.push_back({e, rng.next_unit() * 30.0});
                g.edges[e].weight = m.engine_weight(overrides.back().weight);  // the last one for an edge wins
            }
            std::vector<uint32_t> events;
            ObsMask expected_obs = 0;
            for (uint32_t v = 0; v < g.n; ++v) {
                if (rng.next_unit() >= 0.4) continue;
                events.push_back(v);
                expected_obs ^= g.potential[v];
            }
            if (events.size() % 2) expected_obs ^= g.potential[g.n];
            const auto best = testing::best_matching_by_subsets(testing::all_pairs(g), g.n, events);
            SCOPED_TRACE("trial " + std::to_string(trial) + " call " + std::to_string(call));
            ObsMask obs = ~ObsMask{0};
            std::vector<uint32_t> edges{99};
            const Status by_obs = m.match(events, obs, overrides);
            const Status by_edges = m.match_edges(events, edges, overrides);
            ASSERT_EQ(by_obs.ok(), best.has_value());
            ASSERT_EQ(by_edges.ok(), best.has_value());
            if (!best) continue;
            EXPECT_EQ(obs, expected_obs);
            std::vector<uint8_t> parity(g.n, 0);
            std::set<uint32_t> distinct;
            int64_t total = 0;
            for (const uint32_t e : edges) {
                ASSERT_TRUE(distinct.insert(e).second) << "edge " << e << " twice";
                total += g.edges[e].weight;
                parity[g.edges[e].u] ^= 1;
                if (g.edges[e].v != kBoundary) parity[g.edges[e].v] ^= 1;
            }
            for (const uint32_t v : events) parity[v] ^= 1;
            for (uint32_t v = 0; v < g.n; ++v) ASSERT_EQ(parity[v], 0) << "detector " << v;
            EXPECT_EQ(total, *best);  // no correction of these events weighs less than their best matching
            // The same matching as pairs, each traced along a shortest path
            // under the same weights: together they weigh the best matching.
            std::vector<MatchedEnds> pairs;
            ASSERT_TRUE(m.match_pairs(events, pairs, overrides).ok());
            ObsMask pairs_obs = 0;
            int64_t traced = 0;
            std::vector<uint32_t> path;
            for (const MatchedEnds& pair : pairs) {
                pairs_obs ^= pair.observables;
                ASSERT_TRUE(m.shortest_path(pair.a, pair.b, path, overrides));
                uint32_t at = pair.a;
                for (const uint32_t e : path) {
                    ASSERT_TRUE(g.edges[e].u == at || g.edges[e].v == at) << "path leaves " << at;
                    at = g.edges[e].u == at ? g.edges[e].v : g.edges[e].u;
                    traced += g.edges[e].weight;
                }
                EXPECT_EQ(at, pair.b);
            }
            EXPECT_EQ(pairs_obs, expected_obs);
            EXPECT_EQ(traced, *best);
            ++checked;
        }
    }
    EXPECT_GT(checked, 2000u);
}

TEST(ExactMatcher, BadOverridesAreRefusedAndChangeNothing) {
    // 0 - 1 - boundary, weights 1 and 4 (engine units at scale 1).
    const std::vector<GraphEdge> edges{{0, 1, 1, 1, 0}, {1, kBoundary, 4, 2, 1}};
    const auto m = ExactMatcher::create(sparse::build_matching_graph(2, edges).value(), 2, 1.0).value();
    ObsMask obs = 0;
    const std::vector<uint32_t> fired{0, 1};
    EXPECT_EQ(m.match(fired, obs, std::vector<EdgeWeight>{{0, 9.0}, {2, 1.0}}).error().message,
              "weight override 1 names edge 2, but the graph has 2 edges");
    EXPECT_EQ(m.match(fired, obs, std::vector<EdgeWeight>{{0, -1.0}}).error().message,
              "weight override 0 (edge 0) is -1.000000; weights must be finite and >= 0");
    // The refused calls left the build weights: 1 alone goes to the boundary.
    const std::vector<uint32_t> one{1};
    ASSERT_TRUE(m.match(one, obs).ok());
    EXPECT_EQ(obs, 2u);
    // Made dear for one shot, the boundary edge loses to the path through 0
    // only when 0 has a way out; it has none, so the shot still pays for it.
    ASSERT_TRUE(m.match(one, obs, std::vector<EdgeWeight>{{1, 50.0}, {0, 0.0}}).ok());
    EXPECT_EQ(obs, 2u);
    EXPECT_EQ(ExactMatcher::create(sparse::build_matching_graph(2, edges).value(), 1, 1.0).error().message,
              "half-edge 2 has edge id 1, expected below 1");
}

}  // namespace
}  // namespace vornex
