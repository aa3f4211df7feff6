// Correlated matching: the re-weighting rule against a plain reading of the
// model text, the second pass's exactness under its own weights, and the
// graph restored after every shot on one thread and on the pool.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>
#include <string>

#include "base/wyrand.h"
#include "dem/dem_graph.h"
#include "dem/dem_reader.h"
#include "matching/matching_decoder.h"
#include "matching/sparse/sparse_reference.h"

namespace vornex {
namespace {

using sparse::kBoundary;
using sparse::NodeId;
using sparse::ObsMask;
using Key = std::pair<uint32_t, uint32_t>;  // detectors of an edge, kDemBoundary second for the boundary

// Random decomposed errors on n detectors: one to three components of one
// or two detectors, now and then a component twice (it cancels) or an
// observable.
std::string random_model_text(Wyrand& rng, uint32_t n, size_t n_errors) {
    std::ostringstream text;
    for (size_t k = 0; k < n_errors; ++k) {
        text << "error(" << 0.01 + 0.3 * rng.next_unit() << ")";
        const size_t parts = 1 + rng.next_u64() % 3;
        std::string last;
        for (size_t c = 0; c < parts; ++c) {
            std::string part = " D" + std::to_string(rng.next_u64() % n);
            if (rng.next_u64() % 3) part += " D" + std::to_string(rng.next_u64() % n);
            if (rng.next_u64() % 4 == 0) part += " L0";
            if (c > 0 && rng.next_u64() % 8 == 0) part = last;
            text << (c ? " ^" : "") << part;
            last = part;
        }
        text << "\n";
    }
    return text.str();
}

double xor_probability(double a, double b) { return a * (1 - b) + b * (1 - a); }

// The rule read straight off the text: merged edge probabilities, joint
// probabilities of ordered edge pairs, and the implied weights.
struct ReferenceRule {
    std::map<Key, double> marginal;
    std::map<std::pair<Key, Key>, double> joint;

    explicit ReferenceRule(const std::string& text) {
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
            const double p = std::stod(line.substr(6, line.find(')') - 6));
            std::istringstream tokens(line.substr(line.find(')') + 1));
            std::vector<std::vector<uint32_t>> parts(1);
            for (std::string t; tokens >> t;) {
                if (t == "^") parts.emplace_back();
                if (t[0] == 'D') parts.back().push_back(static_cast<uint32_t>(std::stoul(t.substr(1))));
            }
            std::map<Key, int> count;
            for (auto& d : parts) {
                std::map<uint32_t, int> odd;
                for (uint32_t x : d) odd[x] ^= 1;
                std::vector<uint32_t> kept;
                for (auto [x, o] : odd)
                    if (o) kept.push_back(x);
                if (kept.empty()) continue;
                const Key key{kept[0], kept.size() == 2 ? kept[1] : kDemBoundary};
                marginal[key] = xor_probability(marginal[key], p);
                count[key] ^= 1;
            }
            for (auto [a, ca] : count)
                for (auto [b, cb] : count)
                    if (ca && cb && a != b) joint[{a, b}] = xor_probability(joint[{a, b}], p);
        }
    }

    double implied(Key a, Key b) const {
        const double q = std::min(1.0, joint.at({a, b}) / marginal.at(a));
        return q >= 0.5 ? 0.0 : std::log((1 - q) / q);
    }
};

Key key_of(const DemEdge& e) { return {e.u, e.v}; }

TEST(CorrelatedMatching, EachImpliedWeightIsThePlainRuleOfTheModelText) {
    Wyrand rng(41);
    size_t pairs = 0;
    for (int trial = 0; trial < 200; ++trial) {
        const std::string text = random_model_text(rng, 2 + rng.next_u64() % 6, 1 + rng.next_u64() % 12);
        const ReferenceRule ref(text);
        const auto model = read_detector_error_model(text).value();
        const DemGraph dem = build_dem_graph(model).value();
        const auto dec = MatchingDecoder::from_model(model, true).value();
        ASSERT_TRUE(dec.correlations_enabled());
        SCOPED_TRACE(text);
        for (uint32_t a = 0; a < dem.edges.size(); ++a) {
            std::vector<std::pair<Key, double>> expected;
            for (const auto& [ab, joint] : ref.joint)
                if (ab.first == key_of(dem.edges[a])) expected.push_back({ab.second, ref.implied(ab.first, ab.second)});
            const auto got = dec.correlations()->implied_by(a);
            ASSERT_EQ(got.size(), expected.size()) << "edge " << a;
            for (size_t i = 0; i < got.size(); ++i) {
                EXPECT_EQ(key_of(dem.edges[got[i].edge]), expected[i].first);
                EXPECT_NEAR(got[i].weight, expected[i].second, 1e-12);
                ++pairs;
            }
        }
    }
    EXPECT_GT(pairs, 1000u);
}

// Fired detectors of one draw of every error of the model.
std::vector<NodeId> sample_events(Wyrand& rng, const DetectorErrorModel& model) {
    std::vector<uint8_t> fired(model.num_detectors, 0);
    std::vector<uint32_t> detectors;
    for (size_t column = 0; column < model.num_errors(); ++column) {
        if (rng.next_unit() >= model.probability[column]) continue;
        column_detectors(model, column, detectors);
        for (uint32_t d : detectors) fired[d] ^= 1;
    }
    std::vector<NodeId> events;
    for (uint32_t d = 0; d < fired.size(); ++d)
        if (fired[d]) events.push_back(d);
    return events;
}

// The second pass's correction weighs no more than any matching of the
// shot's events under the second pass's weights (the first pass's edges'
// implied weights, each edge at its least), by the subset reference.
TEST(CorrelatedMatching, SecondPassIsAMinimumWeightMatchingUnderItsWeights) {
    Wyrand rng(43);
    size_t checked = 0, reweighted = 0;
    for (int trial = 0; trial < 150; ++trial) {
        const uint32_t n = 2 + static_cast<uint32_t>(rng.next_u64() % 9);
        const std::string text = random_model_text(rng, n, 4 + rng.next_u64() % 14);
        const auto model = read_detector_error_model(text).value();
        const DemGraph dem = build_dem_graph(model).value();
        const auto dec = MatchingDecoder::from_model(model, true).value();
        SCOPED_TRACE(text);
        for (int shot = 0; shot < 12; ++shot) {
            const std::vector<NodeId> events = sample_events(rng, model);
            std::vector<uint32_t> first, second;
            ObsMask obs_first = 0, obs = 0;
            ASSERT_TRUE(dec.match(events, false, {}, obs_first, &first).ok());
            ASSERT_TRUE(dec.match(events, true, {}, obs, &second).ok());
            std::vector<double> w(dem.edges.size());
            for (size_t e = 0; e < w.size(); ++e) w[e] = std::max(0.0, dem.edges[e].weight);
            for (uint32_t a : first)
                for (const EdgeWeight& b : dec.correlations()->implied_by(a)) w[b.edge] = std::min(w[b.edge], b.weight);
            testing::RandomGraph g;
            g.n = n;
            for (size_t e = 0; e < w.size(); ++e) {
                const DemEdge& d = dem.edges[e];
                g.edges.push_back({d.u, d.v == kDemBoundary ? kBoundary : d.v, dec.matcher().engine_weight(w[e]), 0,
                                   static_cast<uint32_t>(e)});
            }
            const auto best = testing::best_matching_by_subsets(testing::all_pairs(g), n, events);
            ASSERT_TRUE(best.has_value());
            std::vector<uint8_t> parity(n, 0);
            for (NodeId v : events) parity[v] ^= 1;
            int64_t total = 0;
            ObsMask expected_obs = 0;
            for (uint32_t e : second) {
                total += g.edges[e].weight;
                parity[dem.edges[e].u] ^= 1;
                if (dem.edges[e].v != kDemBoundary) parity[dem.edges[e].v] ^= 1;
                for (uint32_t o : dem.observables_of(e)) expected_obs ^= ObsMask{1} << o;
            }
            for (uint32_t v = 0; v < n; ++v) ASSERT_EQ(parity[v], 0) << "detector " << v;
            EXPECT_EQ(total, *best);
            EXPECT_EQ(obs, expected_obs);
            reweighted += second != first;
            ++checked;
        }
    }
    EXPECT_GT(checked, 1500u);
    EXPECT_GT(reweighted, 50u);  // the second pass often changes the answer
}

// Shots alternate between plain, correlated and re-weighted matching on one
// thread, and whole batches alternate on the pool: every plain answer is
// what a fresh decoder gives, every correlated one what a single-threaded
// correlated run gives.
TEST(CorrelatedMatching, ReweightedShotsLeaveTheGraphAsBuilt) {
    Wyrand rng(47);
    const uint32_t n = 60;
    const std::string text = random_model_text(rng, n, 400);
    const auto model = read_detector_error_model(text).value();
    const auto fresh = MatchingDecoder::from_model(model, true).value();
    const auto dec = MatchingDecoder::from_model(model, true).value();
    const size_t n_shots = 400;
    std::vector<uint8_t> rows;
    for (size_t s = 0; s < n_shots; ++s) {
        std::vector<uint8_t> row(n, 0);
        for (NodeId v : sample_events(rng, model)) row[v] = 1;
        rows.insert(rows.end(), row.begin(), row.end());
    }
    const auto plain = fresh.predict_observables(rows, n_shots, false, false, false).value();
    const auto correlated = fresh.predict_observables(rows, n_shots, false, false, true).value();
    EXPECT_NE(plain, correlated);
    const std::vector<EdgeWeight> overrides{{0, 0.0}, {3, 25.0}, {0, 7.5}};
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(dec.predict_observables(rows, n_shots, false, true, true).value(), correlated);
        (void)dec.predict_observables(rows, n_shots, false, true, false, overrides).value();
        EXPECT_EQ(dec.predict_observables(rows, n_shots, false, true, false).value(), plain);
        (void)dec.predict_observables(rows, n_shots, false, true, true, overrides).value();
    }
    for (size_t s = 0; s < n_shots; ++s) {
        const std::span<const uint8_t> row(rows.data() + s * n, n);
        for (const bool correlated_shot : {true, false}) {
            (void)dec.decode_to_edges(row, !correlated_shot, overrides).value();
            const auto out = dec.predict_observables(row, 1, false, false, correlated_shot).value();
            EXPECT_EQ(out[0], (correlated_shot ? correlated : plain)[s]) << "shot " << s;
        }
    }
}

TEST(CorrelatedMatching, RefusalsNameTheirCause) {
    EXPECT_EQ(MatchingDecoder::from_model(read_detector_error_model("error(0.1) D0\nerror(0.6) D0 D1 ^ D2").value(), true)
                  .error()
                  .message,
              "line 2: error(0.6) flips 2 edges together with probability above 1/2; correlated matching needs "
              "decomposed errors of probability <= 1/2");
    const auto plain = MatchingDecoder::from_model(read_detector_error_model("error(0.1) D0 D1 ^ D1").value()).value();
    EXPECT_EQ(plain.decode_to_edges(std::vector<uint8_t>{1, 1}, true).error().message,
              "MatchingDecoder was built without correlations; build it with "
              "MatchingDecoder.from_detector_error_model(model, enable_correlations=True) to decode with them");
}

}  // namespace
}  // namespace vornex
