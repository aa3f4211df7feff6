#include "matching/edge_correlations.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <tuple>

namespace vornex {

namespace {

std::string probability_text(double p) {
    char text[32];
    *std::to_chars(text, text + sizeof text - 1, p).ptr = '\0';
    return text;
}

// Two edges flipped together by one mechanism, in model order.
struct Pair {
    uint32_t a;
    uint32_t b;
    uint32_t order;
    double p;
};

}  // namespace

Result<std::shared_ptr<const EdgeCorrelations>> EdgeCorrelations::create_shared(const DetectorErrorModel& model,
                                                                                const DemGraph& dem, bool enabled) {
    if (!enabled) return std::shared_ptr<const EdgeCorrelations>();
    auto built = create(model, dem);
    if (!built) return built.error();
    return std::make_shared<const EdgeCorrelations>(std::move(built).value());
}

Result<EdgeCorrelations> EdgeCorrelations::create(const DetectorErrorModel& model, const DemGraph& dem) {
    std::vector<Pair> pairs;
    std::vector<uint32_t> detectors;
    std::vector<uint32_t> edges;
    for (size_t column = 0; column < model.num_errors(); ++column) {
        const double p = model.probability[column];
        if (!(p > 0)) continue;
        decomposed_edges(dem, model, column, detectors, edges);
        keep_odd_occurrences(edges);  // an edge flipped twice by one error is not flipped
        if (edges.size() < 2) continue;
        if (p > 0.5) {
            return value_error("line " + std::to_string(model.line[column]) + ": error(" + probability_text(p) +
                               ") flips " + std::to_string(edges.size()) +
                               " edges together with probability above 1/2; correlated matching needs "
                               "decomposed errors of probability <= 1/2");
        }
        for (const uint32_t a : edges)
            for (const uint32_t b : edges)
                if (a != b) pairs.push_back({a, b, static_cast<uint32_t>(pairs.size()), p});
    }
    std::sort(pairs.begin(), pairs.end(),
              [](const Pair& x, const Pair& y) { return std::tie(x.a, x.b, x.order) < std::tie(y.a, y.b, y.order); });
    EdgeCorrelations c;
    for (const DemEdge& e : dem.edges) c.weights_.push_back(std::max(0.0, e.weight));
    c.begin_.assign(c.weights_.size() + 1, 0);
    for (size_t i = 0; i < pairs.size();) {
        const uint32_t a = pairs[i].a;
        const uint32_t b = pairs[i].b;
        double joint = 0;
        for (; i < pairs.size() && pairs[i].a == a && pairs[i].b == b; ++i)
            joint = joint * (1 - pairs[i].p) + pairs[i].p * (1 - joint);
        const double q = std::min(1.0, joint / dem.edges[a].probability);
        c.implied_.push_back({b, q >= 0.5 ? 0.0 : std::log((1 - q) / q)});
        c.begin_[size_t{a} + 1] += 1;
    }
    for (size_t e = 0; e < c.weights_.size(); ++e) c.begin_[e + 1] += c.begin_[e];
    return c;
}

void EdgeCorrelations::second_pass_weights(std::span<const uint32_t> matched, std::span<const EdgeWeight> shot,
                                           Workspace& ws, std::vector<EdgeWeight>& out) const {
    if (ws.stamp.size() < weights_.size()) {
        ws.stamp.resize(weights_.size(), 0);
        ws.best.resize(weights_.size(), 0.0);
    }
    if (++ws.clock == 0) {  // wrapped: older stamps could match again
        std::fill(ws.stamp.begin(), ws.stamp.end(), 0u);
        ws.clock = 1;
    }
    const auto weight_now = [&](uint32_t e) { return ws.stamp[e] == ws.clock ? ws.best[e] : weights_[e]; };
    for (const EdgeWeight& o : shot) {
        ws.stamp[o.edge] = ws.clock;
        ws.best[o.edge] = o.weight;
    }
    // Only ever lower: a later entry for an edge in `out` outweighs an
    // earlier one, so an edge lowered twice is listed twice, the last the least.
    for (const uint32_t a : matched) {
        for (const EdgeWeight& implied : implied_by(a)) {
            if (implied.weight >= weight_now(implied.edge)) continue;
            ws.stamp[implied.edge] = ws.clock;
            ws.best[implied.edge] = implied.weight;
            out.push_back(implied);
        }
    }
}

}  // namespace vornex
