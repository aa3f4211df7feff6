#include "learned/gnn_graph.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <new>
#include <random>
#include <set>
#include <tuple>

namespace vornex {
namespace {

DetectorGraph build(const CheckList& checks, std::vector<uint8_t> syndrome, const GraphExtras& extras = {},
                    std::optional<uint64_t> n_qubits = std::nullopt) {
    auto g = DetectorGraph::create(checks, syndrome, extras, n_qubits);
    EXPECT_TRUE(g.ok()) << (g.ok() ? "" : g.error().message);
    return std::move(g).value();
}

double nf(const DetectorGraph& g, size_t v, size_t col) { return g.node_feature(v)[col]; }
double ef(const DetectorGraph& g, size_t k, size_t col) { return g.edge_feature(k)[col]; }

TEST(DetectorGraphTest, ChainHasBoundaryEndsDegreesAndDistances) {
    const DetectorGraph g = build({{0, 1}, {1, 2}, {2, 3}}, {0, 1, 0});
    ASSERT_EQ(g.n_nodes(), 3u);
    ASSERT_EQ(g.n_edges(), 2u);
    EXPECT_EQ(g.edge_src(), (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(g.edge_dst(), (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(g.edge_qubit_id(), (std::vector<uint32_t>{1, 2}));
    const double boundary[] = {1, 0, 1}, degree[] = {0.5, 1, 0.5}, dist[] = {0, 1, 0};
    for (size_t v = 0; v < 3; ++v) {
        EXPECT_EQ(nf(g, v, 0), v / 3.0);
        EXPECT_EQ(nf(g, v, 1), 0.0);
        EXPECT_EQ(nf(g, v, 2), 0.0);
        EXPECT_EQ(nf(g, v, 4), 1.0);
        EXPECT_EQ(nf(g, v, 5), 0.0);
        EXPECT_EQ(nf(g, v, 6), boundary[v]);
        EXPECT_EQ(nf(g, v, 7), degree[v]);
        EXPECT_EQ(nf(g, v, 9), dist[v]);
        // Every node is within two hops of the single active check.
        EXPECT_EQ(nf(g, v, 8), 1.0);
    }
    // Without positions: same row, columns one apart, normalised by the largest gap.
    for (size_t k = 0; k < 2; ++k) {
        EXPECT_EQ(std::vector<double>(g.edge_feature(k).begin(), g.edge_feature(k).end()),
                  (std::vector<double>{1, 1, 1, 0, 1, 0, 0, 0}));
    }
}

TEST(DetectorGraphTest, PositionsTypesAndBaseWeights) {
    GraphExtras extras;
    extras.check_positions = std::vector<std::pair<double, double>>{{0, 0}, {2, 0}, {2, 4}};
    extras.check_types = std::vector<bool>{true, false, true};
    extras.base_weights = std::vector<double>{9, 0.5};  // qubit 2 has none
    const DetectorGraph g = build({{0, 1}, {1, 2}, {2, 3}}, {0, 0, 0}, extras);
    // (row, column, value) of node and edge features; edge 0 spans 2, edge 1
    // spans 4, so distances are normalised by 4.
    const std::vector<std::tuple<size_t, size_t, double>> nodes{
        {1, 0, 1.0}, {2, 1, 1.0}, {1, 4, 0.0}, {1, 5, 1.0}, {2, 4, 1.0}};
    const std::vector<std::tuple<size_t, size_t, double>> edges{
        {0, 0, 0.5}, {1, 0, 1.0}, {0, 1, 0.5}, {1, 1, 1.0}, {0, 2, 1.0}, {0, 3, 0.0}, {1, 2, 0.0}, {1, 3, 1.0}};
    for (const auto& [v, col, value] : nodes) EXPECT_EQ(nf(g, v, col), value) << "node " << v << " column " << col;
    for (const auto& [k, col, value] : edges) EXPECT_EQ(ef(g, k, col), value) << "edge " << k << " column " << col;
}

TEST(DetectorGraphTest, DegenerateShapes) {
    // A ring has no boundary: distance n_checks everywhere, feature 9 = 1.
    const DetectorGraph ring = build({{0, 1}, {1, 2}, {2, 0}}, {0, 0, 0});
    for (size_t v = 0; v < 3; ++v) EXPECT_EQ(nf(ring, v, 9), 1.0);
    // Syndrome 2 is fed as a number but is not "active".
    const DetectorGraph two = build({{0, 1}, {1, 2}, {2, 3}}, {2, 0, 0});
    EXPECT_EQ(nf(two, 0, 3), 2.0);
    for (size_t v = 0; v < 3; ++v) EXPECT_EQ(nf(two, v, 8), 0.0);
    // n_qubits below an index drops that qubit's edges and boundary marks.
    const DetectorGraph cut = build({{0, 1}, {1, 2}, {2, 3}}, {0, 0, 0}, {}, 2);
    EXPECT_EQ(cut.n_edges(), 1u);
    EXPECT_EQ(nf(cut, 2, 6), 0.0);
    // A qubit listed twice in one check gives a self-edge seen twice in the adjacency.
    const DetectorGraph self = build({{0, 0}, {1}}, {0, 0});
    ASSERT_EQ(self.n_edges(), 1u);
    EXPECT_EQ(self.edge_src()[0], 0u);
    EXPECT_EQ(self.edge_dst()[0], 0u);
    EXPECT_EQ(self.degree(0), 2u);
    EXPECT_EQ(ef(self, 0, 2), 1.0);
    EXPECT_EQ(ef(self, 0, 3), 1.0);
    // No checks at all.
    const DetectorGraph empty = build({}, {});
    EXPECT_EQ(empty.n_nodes(), 0u);
    EXPECT_EQ(empty.n_edges(), 0u);
    // A huge qubit count costs nothing.
    const DetectorGraph wide = build({{0, 1}, {1, 4000000000u}}, {0, 0}, {}, uint64_t{1} << 40);
    EXPECT_EQ(wide.n_edges(), 1u);
}

// Every pair of a qubit's checks is an edge: a qubit shared by very many
// checks is refused from the count alone, before any edge is built.
TEST(DetectorGraphTest, EdgeCountsBeyondIdsOrMemoryAreRefused) {
    const CheckList repeated{std::vector<uint32_t>(100000, 0)};
    const auto ids = DetectorGraph::create(repeated, std::vector<uint8_t>{0});
    ASSERT_FALSE(ids.ok());
    EXPECT_EQ(ids.error().message, "n_edges 4999950000 exceeds the 32-bit edge id range");
    // 92000 checks on one qubit: 4.2e9 edges, within the id range but not memory.
    const CheckList star(92000, std::vector<uint32_t>{0});
    EXPECT_THROW((void)DetectorGraph::create(star, std::vector<uint8_t>(92000, 0)), std::bad_alloc);
}

TEST(DetectorGraphTest, ErrorTexts) {
    auto bad = DetectorGraph::create({{0, 1}, {1}}, std::vector<uint8_t>{0}, {});
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().kind, ErrorKind::Value);
    EXPECT_EQ(bad.error().message, "syndrome length 1 != n_checks 2");
    GraphExtras extras;
    extras.check_positions = std::vector<std::pair<double, double>>{{0, 0}};
    extras.check_types = std::vector<bool>{true};
    EXPECT_EQ(DetectorGraph::create({{0, 1}, {1}}, std::vector<uint8_t>{0, 0}, extras).error().message,
              "check_positions length 1 != n_checks 2");
    extras.check_positions.reset();
    EXPECT_EQ(DetectorGraph::create({{0, 1}, {1}}, std::vector<uint8_t>{0, 0}, extras).error().message,
              "check_types length 1 != n_checks 2");
    DetectorGraph g = build({{0, 1}, {1}}, {1, 0});
    const auto before = g.node_feature_rows();
    const std::vector<uint8_t> short_syndrome{1};
    auto status = g.update_syndrome(short_syndrome);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().message, "syndrome length 1 != n_nodes 2");
    EXPECT_EQ(g.node_feature_rows(), before);
}

// ---- Plain reference: per-qubit lists, hop distances by repeated relaxation,
// two-hop sets as std::set ----
struct ReferenceNodes {
    std::vector<size_t> degree, distance, activity;
    std::vector<bool> boundary;
};

ReferenceNodes reference_nodes(const CheckList& checks, const std::vector<uint8_t>& s, uint64_t nq) {
    const size_t c = checks.size();
    std::vector<std::vector<size_t>> lists(nq);
    for (size_t i = 0; i < c; ++i)
        for (uint32_t q : checks[i])
            if (q < nq) lists[q].push_back(i);
    ReferenceNodes r;
    r.degree.assign(c, 0);
    r.boundary.assign(c, false);
    std::vector<std::set<size_t>> nbr(c);
    for (size_t q = 0; q < nq; ++q) {
        if (lists[q].size() == 1) r.boundary[lists[q][0]] = true;
        for (size_t a = 0; a < lists[q].size(); ++a)
            for (size_t b = a + 1; b < lists[q].size(); ++b) {
                ++r.degree[lists[q][a]];
                ++r.degree[lists[q][b]];
                nbr[lists[q][a]].insert(lists[q][b]);
                nbr[lists[q][b]].insert(lists[q][a]);
            }
    }
    r.distance.assign(c, SIZE_MAX);
    for (size_t v = 0; v < c; ++v)
        if (r.boundary[v]) r.distance[v] = 0;
    for (bool changed = true; changed;) {
        changed = false;
        for (size_t v = 0; v < c; ++v)
            for (size_t u : nbr[v])
                if (r.distance[u] != SIZE_MAX && r.distance[u] + 1 < r.distance[v]) {
                    r.distance[v] = r.distance[u] + 1;
                    changed = true;
                }
    }
    for (auto& d : r.distance)
        if (d == SIZE_MAX) d = c;
    for (size_t v = 0; v < c; ++v) {
        std::set<size_t> near{v};
        for (size_t u : nbr[v]) {
            near.insert(u);
            near.insert(nbr[u].begin(), nbr[u].end());
        }
        size_t active = 0;
        for (size_t u : near) active += s[u] == 1;
        r.activity.push_back(active);
    }
    return r;
}

double norm(const std::vector<size_t>& values) {
    double m = 1;
    for (size_t v : values) m = std::max(m, static_cast<double>(v));
    return m;
}

TEST(DetectorGraphTest, NodeFeaturesMatchReferenceOnRandomCodes) {
    std::mt19937_64 rng(7);
    for (int trial = 0; trial < 400; ++trial) {
        const size_t nc = 1 + rng() % 12, nq = 1 + rng() % 14;
        CheckList checks(nc);
        for (auto& check : checks)
            for (size_t w = 0, len = rng() % 4; w < len; ++w) check.push_back(static_cast<uint32_t>(rng() % nq));
        std::vector<uint8_t> s(nc);
        for (auto& b : s) b = static_cast<uint8_t>(rng() % 3);
        DetectorGraph g = build(checks, s, {}, nq);
        auto check_nodes = [&](const std::vector<uint8_t>& syn) {
            const ReferenceNodes r = reference_nodes(checks, syn, nq);
            for (size_t v = 0; v < nc; ++v) {
                ASSERT_EQ(nf(g, v, 3), syn[v]);
                ASSERT_EQ(nf(g, v, 6), r.boundary[v] ? 1.0 : 0.0);
                ASSERT_EQ(nf(g, v, 7), r.degree[v] / norm(r.degree));
                ASSERT_EQ(nf(g, v, 8), r.activity[v] / norm(r.activity)) << "trial " << trial;
                ASSERT_EQ(nf(g, v, 9), r.distance[v] / norm(r.distance));
            }
        };
        check_nodes(s);
        // An update touches only the syndrome and activity columns.
        const auto before = g.node_feature_rows();
        for (auto& b : s) b = static_cast<uint8_t>(rng() % 2);
        ASSERT_TRUE(g.update_syndrome(s).ok());
        check_nodes(s);
        const auto after = g.node_feature_rows();
        for (size_t v = 0; v < nc; ++v)
            for (size_t col = 0; col < DetectorGraph::kNodeFeatureDim; ++col)
                if (col != 3 && col != 8) {
                    ASSERT_EQ(before[v][col], after[v][col]);
                }
        ASSERT_EQ(after, build(checks, s, {}, nq).node_feature_rows());
    }
}

}  // namespace
}  // namespace vornex
