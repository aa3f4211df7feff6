#include "learned/gnn_predecoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <new>
#include <random>

namespace vornex {
namespace {

using Rows = std::vector<std::vector<double>>;

Rows rows_of(const Matrix& m) {
    Rows r(m.rows);
    for (size_t i = 0; i < m.rows; ++i) r[i].assign(m.row(i), m.row(i) + m.cols);
    return r;
}

// out[i] = b[i] + sum_j W[i][j] x[j], summed from the bias in index order.
std::vector<double> ref_affine(const Rows& w, const std::vector<double>& b, const std::vector<double>& x) {
    std::vector<double> out(w.size());
    for (size_t i = 0; i < w.size(); ++i) {
        double acc = b[i];
        for (size_t j = 0; j < x.size(); ++j) acc += w[i][j] * x[j];
        out[i] = acc;
    }
    return out;
}

std::vector<double> cat(std::vector<double> a, const std::vector<double>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Forward pass written from the definition with nested vectors; owners are
// found by scanning the adjacency lists in node order.
std::vector<double> reference_forward(const GNNPredecoder& net, const DetectorGraph& g) {
    const size_t n = g.n_nodes(), ne = g.n_edges();
    Rows h = g.node_feature_rows();
    const Rows x = g.edge_feature_rows();
    std::vector<size_t> owner(ne, SIZE_MAX);
    for (size_t v = 0; v < n; ++v)
        for (const auto& nb : g.neighbours(v))
            if (owner[nb.edge] == SIZE_MAX) owner[nb.edge] = v;
    for (const auto& layer : net.layers()) {
        Rows m(ne);
        for (size_t e = 0; e < ne; ++e) m[e] = ref_affine(rows_of(layer.w_message), layer.b_message, cat(h[owner[e]], x[e]));
        Rows next(n);
        for (size_t v = 0; v < n; ++v) {
            std::vector<double> a(layer.hidden, 0.0);
            const auto adj = g.neighbours(v);
            if (!adj.empty()) {
                for (const auto& nb : adj)
                    for (size_t i = 0; i < a.size(); ++i) a[i] += m[nb.edge][i];
                for (double& ai : a) ai /= static_cast<double>(adj.size());
            }
            next[v] = ref_affine(rows_of(layer.w_update), layer.b_update, cat(h[v], a));
            for (double& p : next[v]) p = std::max(p, 0.0);
        }
        h = next;
    }
    std::vector<double> weights;
    const auto& ro = net.readout();
    for (size_t k = 0; k < ne; ++k) {
        auto q = ref_affine(rows_of(ro.w1), ro.b1, cat(cat(h[g.edge_src()[k]], h[g.edge_dst()[k]]), x[k]));
        for (double& v : q) v = std::max(v, 0.0);
        const double raw = ref_affine(rows_of(ro.w2), ro.b2, q)[0];
        const double sp = raw > 40 ? raw : raw < -40 ? std::exp(raw) : std::log(std::exp(raw) + 1);
        weights.push_back(std::clamp(sp, 1e-6, 100.0));
    }
    return weights;
}

CheckList random_code(std::mt19937_64& rng, size_t nc, size_t nq) {
    CheckList checks(nc);
    for (auto& check : checks)
        for (size_t w = 0, len = 1 + rng() % 3; w < len; ++w) check.push_back(static_cast<uint32_t>(rng() % nq));
    return checks;
}

DetectorGraph random_graph(std::mt19937_64& rng, const CheckList& checks) {
    std::vector<uint8_t> s(checks.size());
    for (auto& b : s) b = static_cast<uint8_t>(rng() % 2);
    return DetectorGraph::create(checks, s).value();
}

TEST(GNNPredecoderTest, ForwardMatchesReference) {
    std::mt19937_64 rng(11);
    Wyrand seeds(5);
    for (int trial = 0; trial < 60; ++trial) {
        const size_t hidden = 1 + rng() % 6, n_layers = rng() % 4;
        GNNPredecoder net(10, 8, hidden, n_layers == 0 ? 1 : n_layers, seeds);
        // Nonzero biases so that their place in each sum is exercised.
        for (auto& layer : net.layers())
            for (double& b : layer.b_update) b = 0.1 * static_cast<double>(rng() % 7) - 0.3;
        for (double& b : net.readout().b1) b = 0.05 * static_cast<double>(rng() % 5);
        const CheckList checks = random_code(rng, 2 + rng() % 8, 2 + rng() % 8);
        const DetectorGraph g = random_graph(rng, checks);
        const auto w = net.forward(g).value();
        ASSERT_EQ(w, reference_forward(net, g)) << "trial " << trial;
        for (double v : w) {
            ASSERT_GE(v, 1e-6);
            ASSERT_LE(v, 100.0);
        }
    }
}

TEST(GNNPredecoderTest, SeededInitialisationAndNodeProbabilities) {
    Wyrand a(42), b(42);
    const GNNPredecoder x(10, 8, 4, 2, a), y(10, 8, 4, 2, b);
    EXPECT_TRUE(x == y);
    EXPECT_FALSE(GNNPredecoder(10, 8, 4, 2) == GNNPredecoder(10, 8, 4, 2));
    // An isolated node (check 2 shares nothing) aggregates zero and has
    // probability 1 / (e + 1).
    const DetectorGraph g = DetectorGraph::create({{0, 1}, {1, 2}, {5}}, std::vector<uint8_t>{1, 0, 0}).value();
    const auto [w, p] = x.predict_with_node_probs(g).value();
    ASSERT_EQ(w.size(), 1u);
    ASSERT_EQ(p.size(), 3u);
    EXPECT_DOUBLE_EQ(p[2], 1.0 / (std::exp(1.0) + 1.0));
    EXPECT_DOUBLE_EQ(p[0], 1.0 / (std::exp(1.0 - w[0]) + 1.0));
    EXPECT_EQ(w, x.forward(g).value());
}

TEST(GNNPredecoderTest, WidthMismatchAndListLengthErrors) {
    GNNPredecoder net(9, 8, 3, 1);
    const DetectorGraph g = DetectorGraph::create({{0, 1}, {1}}, std::vector<uint8_t>{0, 1}).value();
    auto w = net.forward(g);
    ASSERT_FALSE(w.ok());
    EXPECT_EQ(w.error().message, "Graph node feature width 10 != node_feat_dim 9");
    EXPECT_EQ(GNNPredecoder(10, 7, 3, 1).forward(g).error().message, "Graph edge feature width 8 != edge_feat_dim 7");
    GNNPredecoder ok(10, 8, 3, 1);
    const GNNPredecoder before = ok;
    const std::vector<DetectorGraph> graphs{g};
    const std::vector<std::vector<double>> two_targets{{1.0}, {1.0}};
    auto status = ok.train(graphs, two_targets, 3);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.error().kind, ErrorKind::Value);
    EXPECT_EQ(status.error().message, "graphs and targets must have the same length (1 != 2)");
    EXPECT_TRUE(ok == before);
    const std::vector<std::vector<double>> one_target{std::vector<double>(g.n_edges(), 1.0)};
    EXPECT_EQ(ok.train(graphs, one_target, uint64_t{1} << 31).error().message,
              "n_epochs must be <= 100000000, got 2147483648");
    const std::vector<DetectorGraph> many(10000, g);
    const std::vector<std::vector<double>> many_targets(10000, one_target[0]);
    EXPECT_EQ(ok.train(many, many_targets, 100'000'000).error().message.rfind("training too large: ", 0), 0u);
    EXPECT_TRUE(ok == before);
    // A target of the wrong length is skipped silently; empty lists do nothing.
    ASSERT_TRUE(ok.train(graphs, std::vector<std::vector<double>>{{1.0, 2.0}}, 3).ok());
    ASSERT_TRUE(ok.train(std::span<const DetectorGraph>{}, {}, 3).ok());
    EXPECT_TRUE(ok == before);
}

// Every parameter moves by -eta * dL/dtheta in one step (lambda = 0, tiny
// eta); dL/dtheta is measured by central differences of the squared-error loss.
TEST(GNNPredecoderTest, GradientStepMatchesFiniteDifferences) {
    std::mt19937_64 rng(3);
    Wyrand seeds(9);
    for (int trial = 0; trial < 4; ++trial) {
        GNNPredecoder net(10, 8, 4, 2, seeds);
        for (auto& layer : net.layers())
            for (double& b : layer.b_update) b = 0.2;
        net.set_l2_lambda(0.0);
        net.set_learning_rate(1e-7);
        const CheckList checks = random_code(rng, 6, 7);
        const std::vector<DetectorGraph> graphs{random_graph(rng, checks)};
        std::vector<std::vector<double>> targets{net.forward(graphs[0]).value()};
        for (double& t : targets[0]) t += 0.5 * (static_cast<double>(rng() % 100) / 100.0 - 0.5);
        if (targets[0].empty()) continue;

        GNNPredecoder stepped = net;
        ASSERT_TRUE(stepped.train(graphs, targets, 1).ok());

        auto check_tensor = [&](auto&& select, const char* what) {
            std::vector<double>& before = select(net);
            const std::vector<double>& after = select(stepped);
            for (size_t i = 0; i < before.size(); ++i) {
                const double step = (before[i] - after[i]) / 1e-7;
                const double saved = before[i];
                const double eps = 1e-6;
                before[i] = saved + eps;
                const double up = net.loss(graphs, targets).value();
                before[i] = saved - eps;
                const double down = net.loss(graphs, targets).value();
                before[i] = saved;
                const double fd = (up - down) / (2 * eps);
                ASSERT_NEAR(step, fd, 1e-4 + 2e-3 * std::abs(fd)) << what << "[" << i << "] trial " << trial;
            }
        };
        for (size_t l = 0; l < 2; ++l) {
            check_tensor([l](GNNPredecoder& n) -> std::vector<double>& { return n.layers()[l].w_message.data; },
                         "w_message");
            check_tensor([l](GNNPredecoder& n) -> std::vector<double>& { return n.layers()[l].b_message; },
                         "b_message");
            check_tensor([l](GNNPredecoder& n) -> std::vector<double>& { return n.layers()[l].w_update.data; },
                         "w_update");
            check_tensor([l](GNNPredecoder& n) -> std::vector<double>& { return n.layers()[l].b_update; },
                         "b_update");
        }
        check_tensor([](GNNPredecoder& n) -> std::vector<double>& { return n.readout().w1.data; }, "w1");
        check_tensor([](GNNPredecoder& n) -> std::vector<double>& { return n.readout().b1; }, "b1");
        check_tensor([](GNNPredecoder& n) -> std::vector<double>& { return n.readout().w2.data; }, "w2");
        check_tensor([](GNNPredecoder& n) -> std::vector<double>& { return n.readout().b2; }, "b2");
    }
}

// With targets equal to the prediction only the decay acts: once per edge on
// the readout and the message weights, once per node on the update weights.
TEST(GNNPredecoderTest, ZeroErrorStepOnlyDecays) {
    Wyrand seeds(1);
    GNNPredecoder net(10, 8, 3, 1, seeds);
    net.set_learning_rate(0.1);
    net.set_l2_lambda(0.01);
    const DetectorGraph g = DetectorGraph::create({{0, 1}, {1, 2}, {2, 3}, {3}}, std::vector<uint8_t>{1, 0, 0, 1}).value();
    const std::vector<DetectorGraph> graphs{g};
    const std::vector<std::vector<double>> targets{net.forward(g).value()};
    GNNPredecoder after = net;
    ASSERT_TRUE(after.train(graphs, targets, 1).ok());
    const double f = 1.0 - 0.1 * 0.01;
    const double fe = std::pow(f, static_cast<double>(g.n_edges())), fn = std::pow(f, static_cast<double>(g.n_nodes()));
    auto expect_scaled = [](const std::vector<double>& a, const std::vector<double>& b, double factor) {
        for (size_t i = 0; i < a.size(); ++i) EXPECT_NEAR(b[i], a[i] * factor, 1e-14);
    };
    expect_scaled(net.readout().w1.data, after.readout().w1.data, fe);
    expect_scaled(net.readout().w2.data, after.readout().w2.data, fe);
    expect_scaled(net.layers()[0].w_message.data, after.layers()[0].w_message.data, fe);
    expect_scaled(net.layers()[0].w_update.data, after.layers()[0].w_update.data, fn);
    EXPECT_EQ(net.readout().b1, after.readout().b1);
    EXPECT_EQ(net.readout().b2, after.readout().b2);
    EXPECT_EQ(net.layers()[0].b_message, after.layers()[0].b_message);
    EXPECT_EQ(net.layers()[0].b_update, after.layers()[0].b_update);
}

// Targets are clamped to the weight range before the error is formed, and an
// edge whose raw readout reaches 100 contributes no gradient at all.
TEST(GNNPredecoderTest, TargetClampAndSaturatedReadout) {
    Wyrand seeds(5);
    const GNNPredecoder net(10, 8, 3, 1, seeds);
    // 400 edges keep the output gradients below their clip at +-1, so the
    // target clamp is what makes 150 act as 100.
    CheckList chain;
    for (uint32_t c = 0; c <= 400; ++c) chain.push_back({c, c + 1});
    const DetectorGraph g = DetectorGraph::create(chain, std::vector<uint8_t>(401, 0)).value();
    const std::vector<DetectorGraph> graphs{g};
    auto trained = [&](GNNPredecoder start, double target) {
        const std::vector<std::vector<double>> targets{std::vector<double>(g.n_edges(), target)};
        EXPECT_TRUE(start.train(graphs, targets, 1).ok());
        return start;
    };
    EXPECT_EQ(trained(net, 150.0), trained(net, 100.0));
    EXPECT_EQ(trained(net, -3.0), trained(net, 1e-6));
    EXPECT_NE(trained(net, 50.0), trained(net, 100.0));

    GNNPredecoder saturated = net;
    saturated.readout().b2[0] = 100.0;
    saturated.readout().w2.data.assign(saturated.readout().w2.data.size(), 0.0);
    saturated.set_l2_lambda(0.0);
    EXPECT_EQ(trained(saturated, 1e-6), saturated);
}

// Sizes come from the caller: a network or a pass that cannot be held in
// memory is refused up front instead of wrapping a matrix size.
TEST(GNNPredecoderTest, SizesBeyondMemoryAreRefused) {
    EXPECT_THROW(GNNPredecoder(size_t{1} << 62, 8, 4, 1), std::bad_alloc);
    EXPECT_THROW(GNNPredecoder(10, 8, 4, size_t{1} << 62), std::bad_alloc);
    EXPECT_THROW(GNNPredecoder(10, 8, size_t{1} << 32, 1), std::bad_alloc);
    // Two million edges at width 2000: a pass needs about 128 GB.
    CheckList chain;
    for (uint32_t c = 0; c <= 2000000; ++c) chain.push_back({c, c + 1});
    const DetectorGraph long_chain = DetectorGraph::create(chain, std::vector<uint8_t>(chain.size(), 0)).value();
    const GNNPredecoder wide(10, 8, 2000, 1);
    EXPECT_THROW((void)wide.forward(long_chain), std::bad_alloc);
}

TEST(GNNPredecoderTest, TrainingReducesLoss) {
    std::mt19937_64 rng(21);
    Wyrand seeds(77);
    GNNPredecoder net(10, 8, 8, 2, seeds);
    const CheckList checks{{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}};
    std::vector<DetectorGraph> graphs;
    std::vector<std::vector<double>> targets;
    for (int i = 0; i < 24; ++i) {
        graphs.push_back(random_graph(rng, checks));
        const DetectorGraph& g = graphs.back();
        std::vector<double> t;
        // Cheap edges between two fired checks, expensive ones elsewhere.
        for (size_t k = 0; k < g.n_edges(); ++k)
            t.push_back(g.node_feature(g.edge_src()[k])[3] + g.node_feature(g.edge_dst()[k])[3] == 2 ? 0.2 : 3.0);
        targets.push_back(std::move(t));
    }
    const double start = net.loss(graphs, targets).value();
    ASSERT_TRUE(net.train(graphs, targets, 40).ok());
    const double end = net.loss(graphs, targets).value();
    EXPECT_LT(end, 0.5 * start) << start << " -> " << end;
}

TEST(GNNPredecoderTest, DegenerateSizesDoNotCrash) {
    const DetectorGraph g = DetectorGraph::create({{0, 1}, {1, 2}}, std::vector<uint8_t>{1, 1}).value();
    const std::vector<DetectorGraph> graphs{g};
    const std::vector<std::vector<double>> targets{{1.0}};
    for (auto [h, l] : {std::pair<size_t, size_t>{0, 2}, {3, 0}, {0, 0}}) {
        GNNPredecoder net(10, 8, h, l);
        const auto w = net.forward(g).value();
        ASSERT_EQ(w.size(), 1u);
        ASSERT_TRUE(net.train(graphs, targets, 2).ok());
    }
}

}  // namespace
}  // namespace vornex
