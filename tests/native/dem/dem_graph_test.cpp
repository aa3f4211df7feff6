#include "dem/dem_graph.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

#include "base/wyrand.h"
#include "dem/dem_reader.h"

namespace vornex {
namespace {

DemGraph graph_of(std::string_view text) {
    auto model = read_detector_error_model(text);
    EXPECT_TRUE(model.ok()) << model.error().message;
    auto graph = build_dem_graph(model.value());
    EXPECT_TRUE(graph.ok()) << graph.error().message;
    return graph.ok() ? std::move(graph).value() : DemGraph{};
}

std::string graph_error(std::string_view text) {
    auto graph = build_dem_graph(read_detector_error_model(text).value());
    EXPECT_FALSE(graph.ok());
    return graph.ok() ? "" : graph.error().message;
}

std::vector<uint32_t> obs(const DemGraph& g, size_t e) {
    auto o = g.observables_of(e);
    return {o.begin(), o.end()};
}

TEST(DemGraph, ComponentsSplitAtSeparatorsAndParallelEdgesMerge) {
    const auto g = graph_of(
        "error(0.1) D2 D1 ^ D0 L0\n"  // two components: D1-D2 and D0-boundary flipping L0
        "error(0.2) D1 D2\n"          // parallel to the first component
        "error(0.3) D0 L1\n"          // parallel boundary edge with other observables: the first one's stay
        "error(0) D3 D4\n"            // dropped
        "error(0.05) L2\n"            // undetectable
        "error(0.4) D1 D1 D3 L0 L0\n"  // XOR: D3 alone, no observable
    );
    EXPECT_EQ(g.num_detectors, 5u);
    EXPECT_EQ(g.num_observables, 3u);
    EXPECT_EQ(g.undetectable_components, 1u);
    ASSERT_EQ(g.edges.size(), 3u);
    EXPECT_EQ(g.edges[0].u, 0u);
    EXPECT_EQ(g.edges[0].v, kDemBoundary);
    EXPECT_DOUBLE_EQ(g.edges[0].probability, 0.1 * 0.7 + 0.3 * 0.9);
    EXPECT_EQ(obs(g, 0), (std::vector<uint32_t>{0}));
    EXPECT_EQ(g.edges[1].u, 1u);
    EXPECT_EQ(g.edges[1].v, 2u);
    EXPECT_DOUBLE_EQ(g.edges[1].probability, 0.1 * 0.8 + 0.2 * 0.9);
    EXPECT_DOUBLE_EQ(g.edges[1].weight, std::log((1 - 0.26) / 0.26));
    EXPECT_TRUE(obs(g, 1).empty());
    EXPECT_EQ(g.edges[2].u, 3u);
    EXPECT_EQ(g.edges[2].v, kDemBoundary);
    EXPECT_TRUE(obs(g, 2).empty());
}

TEST(DemGraph, ProbabilitiesAtAndAboveOneHalf) {
    // Two certain flips cancel: the merged edge has p = 0 and is dropped.
    EXPECT_TRUE(graph_of("error(1) D0 D1\nerror(1) D0 D1").edges.empty());
    const auto g = graph_of("error(0.5) D0\nerror(0.75) D0 D1\nerror(1) D1");
    ASSERT_EQ(g.edges.size(), 3u);
    EXPECT_DOUBLE_EQ(g.edges[0].weight, std::log(0.25 / 0.75));
    EXPECT_EQ(g.edges[1].weight, 0.0);
    EXPECT_EQ(g.edges[2].weight, -INFINITY);
    EXPECT_EQ(require_non_negative_weights(g, "BlossomDecoder").error().message,
              "BlossomDecoder needs edge probabilities <= 0.5 (non-negative weights); edge D0 - D1 has probability "
              "0.75");
    EXPECT_EQ(require_non_negative_weights(graph_of("error(0.6) D4"), "X").error().message,
              "X needs edge probabilities <= 0.5 (non-negative weights); edge D4 to the boundary has probability 0.6");
    EXPECT_TRUE(require_non_negative_weights(graph_of("error(0.5) D0 D1"), "X").ok());
}

TEST(DemGraph, HyperedgesAreRefusedWithTheLine) {
    EXPECT_EQ(graph_error("error(0.1) D0 D1\nerror(0.1) D0 D1 ^ D4 D2 D9 L0"),
              "line 2: error component D2 D4 D9 flips 3 detectors (a hyperedge); graph decoders take at most 2 per "
              "component: split it with '^' (as stim's decompose_errors=True does where the circuit allows), or "
              "decode with a family that accepts hyperedges: bposd, relay_bp");
    // A zero-probability hyperedge never reaches a decoder, and repeats cancel.
    EXPECT_EQ(graph_of("error(0) D0 D1 D2\nerror(0.1) D0 D1 D2 D2").edges.size(), 1u);
}

// Plain reference: a map keyed by detector pair, filled in model order.
TEST(DemGraph, RandomModelsMatchAMapReference) {
    Wyrand rng(16);
    for (int trial = 0; trial < 500; ++trial) {
        std::string text;
        struct Ref {
            double p;
            std::vector<uint32_t> obs;
        };
        std::map<std::pair<uint32_t, uint32_t>, Ref> ref;
        const int n = 1 + static_cast<int>(rng.next_u64() % 30);
        for (int i = 0; i < n; ++i) {
            const double p = (rng.next_u64() % 5 == 0) ? 0.0 : rng.next_unit() * 0.5;
            uint32_t a = static_cast<uint32_t>(rng.next_u64() % 6);
            uint32_t b = static_cast<uint32_t>(rng.next_u64() % 7);  // 6 = boundary
            const bool flips = rng.next_u64() % 3 == 0;
            text += "error(" + std::to_string(p) + ") D" + std::to_string(a);
            if (b < 6) text += " D" + std::to_string(b);
            if (flips) text += " L1";
            text += "\n";
            const double parsed = std::stod(std::to_string(p));
            if (b == a) continue;  // D a D a flips nothing
            if (b == 6) b = kDemBoundary;
            if (b < a) std::swap(a, b);
            if (!(parsed > 0)) continue;
            auto [it, fresh] = ref.try_emplace({a, b}, Ref{parsed, flips ? std::vector<uint32_t>{1} : std::vector<uint32_t>{}});
            if (!fresh) it->second.p = it->second.p * (1 - parsed) + parsed * (1 - it->second.p);
        }
        const auto g = graph_of(text);
        ASSERT_EQ(g.edges.size(), ref.size()) << text;
        size_t e = 0;
        for (const auto& [key, r] : ref) {
            EXPECT_EQ(g.edges[e].u, key.first);
            EXPECT_EQ(g.edges[e].v, key.second);
            EXPECT_DOUBLE_EQ(g.edges[e].probability, r.p);
            EXPECT_DOUBLE_EQ(g.edges[e].weight, std::log((1 - r.p) / r.p));
            EXPECT_EQ(obs(g, e), r.obs);
            ++e;
        }
    }
}

}  // namespace
}  // namespace vornex
