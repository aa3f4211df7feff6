#include "matching/stream/round_layers.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>
#include <string>

#include "matching/model_graph.h"

namespace vornex::stream {

namespace {

// Round of each detector from its last coordinate; rounds numbered by
// ascending time.
Result<std::vector<uint32_t>> rounds_from_time(const DetectorErrorModel& model) {
    constexpr double kUnset = -1e300;
    std::vector<double> time(model.num_detectors, kUnset);
    std::vector<uint8_t> seen(model.num_detectors, 0);
    for (size_t entry = 0; entry < model.coordinate_detector.size(); ++entry) {
        const uint32_t d = model.coordinate_detector[entry];
        if (d >= model.num_detectors || seen[d]) continue;
        seen[d] = 1;
        const auto coordinates = model.coordinates_of_entry(entry);
        if (!coordinates.empty()) time[d] = coordinates.back();
    }
    for (uint32_t d = 0; d < model.num_detectors; ++d) {
        if (time[d] == kUnset) {
            return value_error("detector " + std::to_string(d) +
                               " has no coordinates to take its round from; give detectors_per_round");
        }
    }
    std::vector<double> times = time;
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    std::vector<uint32_t> round(model.num_detectors);
    for (uint32_t d = 0; d < model.num_detectors; ++d)
        round[d] = static_cast<uint32_t>(std::lower_bound(times.begin(), times.end(), time[d]) - times.begin());
    return round;
}

// Breadth-first search over (detector, observable parity) from the
// boundary back to it with odd parity, for each observable; the fewest edges.
uint32_t graphlike_distance(const DemGraph& graph) {
    const uint32_t n = graph.num_detectors;
    std::vector<uint32_t> row_begin(n + 2, 0);  // node n is the boundary
    auto end_of = [&](const DemEdge& e) { return e.v == kDemBoundary ? n : e.v; };
    for (const DemEdge& e : graph.edges) {
        ++row_begin[e.u + 1];
        ++row_begin[end_of(e) + 1];
    }
    for (uint32_t x = 0; x <= n; ++x) row_begin[x + 1] += row_begin[x];
    std::vector<std::pair<uint32_t, uint32_t>> adjacent(row_begin[n + 1]);  // (node, edge)
    std::vector<uint32_t> fill(row_begin.begin(), row_begin.end() - 1);
    for (uint32_t k = 0; k < graph.edges.size(); ++k) {
        const DemEdge& e = graph.edges[k];
        adjacent[fill[e.u]++] = {end_of(e), k};
        adjacent[fill[end_of(e)]++] = {e.u, k};
    }
    uint32_t best = 0;
    std::vector<uint32_t> distance;
    std::deque<uint32_t> queue;
    for (uint32_t o = 0; o < std::min<uint32_t>(graph.num_observables, 64); ++o) {
        auto flips = [&](uint32_t edge) {
            const auto obs = graph.observables_of(edge);
            return static_cast<uint32_t>(std::find(obs.begin(), obs.end(), o) != obs.end());
        };
        distance.assign(2 * (n + 1), UINT32_MAX);
        distance[2 * n] = 0;
        queue.assign(1, 2 * n);
        while (!queue.empty()) {
            const uint32_t state = queue.front();
            queue.pop_front();
            const uint32_t x = state / 2, parity = state % 2;
            if (x == n && parity == 1) break;
            if (x == n && state != 2 * n) continue;  // the boundary ends a path
            for (uint32_t k = row_begin[x]; k < row_begin[x + 1]; ++k) {
                const auto [y, edge] = adjacent[k];
                const uint32_t next = 2 * y + (parity ^ flips(edge));
                if (distance[next] != UINT32_MAX) continue;
                distance[next] = distance[state] + 1;
                queue.push_back(next);
            }
        }
        const uint32_t found = distance[2 * n + 1];
        if (found != UINT32_MAX && (best == 0 || found < best)) best = found;
    }
    return best;
}

// Rounds around the middle whose size and edges match it, kept only when
// the round after them has their size (the last repeat leads into it).
void find_bulk(RoundLayers& layers) {
    const uint32_t n = layers.n_rounds();
    if (n < 3 || layers.max_span > 1) return;
    const uint32_t b = (n - 1) / 2;
    auto alike = [&](uint32_t r) {
        if (layers.size(r) != layers.size(b)) return false;
        const auto x = layers.edges_of(r), y = layers.edges_of(b);
        return std::equal(x.begin(), x.end(), y.begin(), y.end(),
                          [](const RoundEdge& p, const RoundEdge& q) { return p.same_shape(q); });
    };
    uint32_t lo = b, hi = b + 1;
    while (lo > 0 && alike(lo - 1)) --lo;
    while (hi < n && alike(hi)) ++hi;
    // Two alike rounds at least: then the edges of the repeated round are
    // seen leading into a round like itself, not only into the tail.
    if (hi - lo < 2 || hi >= n || layers.size(hi) != layers.size(b)) return;
    layers.bulk_begin = lo;
    layers.bulk_end = hi;
    layers.bulk = b;
}

}  // namespace

Result<RoundLayers> build_round_layers(const DetectorErrorModel& model, std::optional<uint32_t> detectors_per_round,
                                       bool correlations) {
    if (detectors_per_round && *detectors_per_round == 0) return value_error("detectors_per_round must be > 0");
    if (model.num_detectors == 0) return value_error("the model has no detectors");
    auto view = build_dem_graph(model);
    if (!view) return view.error();
    const DemGraph& graph = view.value();
    auto pairs = EdgeCorrelations::create_shared(model, graph, correlations);
    if (!pairs) return pairs.error();
    // The global decoder's integer weights, so that a window covering the
    // whole model matches exactly as it does.
    auto global = model_matching_graph(graph, "StreamMatchingDecoder",
                                       correlations ? WeightRounding::Fine : WeightRounding::Plain);
    if (!global) return global.error();
    const ModelMatchingGraph& weights = global.value();

    std::vector<uint32_t> round_of;
    if (detectors_per_round) {
        round_of.resize(model.num_detectors);
        for (uint32_t d = 0; d < model.num_detectors; ++d) round_of[d] = d / *detectors_per_round;
    } else {
        auto by_time = rounds_from_time(model);
        if (!by_time) return by_time.error();
        round_of = std::move(by_time).value();
    }

    RoundLayers layers;
    layers.num_detectors = model.num_detectors;
    layers.num_observables = graph.num_observables;
    const uint32_t n_rounds = *std::max_element(round_of.begin(), round_of.end()) + 1;
    layers.round_begin.assign(n_rounds + 1, 0);
    for (const uint32_t r : round_of) ++layers.round_begin[r + 1];
    for (uint32_t r = 0; r < n_rounds; ++r) {
        layers.max_round_size = std::max(layers.max_round_size, layers.round_begin[r + 1]);
        layers.round_begin[r + 1] += layers.round_begin[r];
    }
    layers.detectors.resize(model.num_detectors);
    layers.position.resize(model.num_detectors);
    std::vector<uint32_t> index_in_round(model.num_detectors);
    {
        std::vector<uint32_t> fill(layers.round_begin.begin(), layers.round_begin.end() - 1);
        for (uint32_t d = 0; d < model.num_detectors; ++d) {
            const uint32_t at = fill[round_of[d]]++;
            layers.detectors[at] = d;
            layers.position[d] = at;
            index_in_round[d] = at - layers.round_begin[round_of[d]];
        }
    }

    std::vector<std::pair<uint32_t, RoundEdge>> filed;  // (earlier round, edge)
    filed.reserve(graph.edges.size());
    for (uint32_t k = 0; k < graph.edges.size(); ++k) {
        const DemEdge& e = graph.edges[k];
        ObsMask mask = 0;
        for (const uint32_t o : graph.observables_of(k)) mask |= ObsMask{1} << o;
        RoundEdge edge;
        edge.model_edge = k;
        edge.weight = std::llround(weights.weights[k] * weights.scale);
        edge.observables = mask;
        uint32_t a = e.u, b = e.v;
        if (b == kDemBoundary) {
            edge.u = index_in_round[a];
            edge.v = sparse::kBoundary;
            filed.push_back({round_of[a], edge});
            continue;
        }
        if (round_of[b] < round_of[a] || (round_of[b] == round_of[a] && b < a)) std::swap(a, b);
        edge.u = index_in_round[a];
        edge.v = index_in_round[b];
        edge.span = round_of[b] - round_of[a];
        layers.max_span = std::max(layers.max_span, edge.span);
        filed.push_back({round_of[a], edge});
    }
    std::sort(filed.begin(), filed.end(), [](const auto& x, const auto& y) {
        const RoundEdge &p = x.second, &q = y.second;
        if (x.first != y.first) return x.first < y.first;
        if (p.u != q.u) return p.u < q.u;
        if (p.span != q.span) return p.span < q.span;
        return p.v < q.v;
    });
    layers.edge_begin.assign(n_rounds + 1, 0);
    layers.edges.reserve(filed.size());
    layers.slot_of_edge.assign(graph.edges.size(), 0);
    layers.round_of_edge.assign(graph.edges.size(), 0);
    for (const auto& [round, edge] : filed) {
        ++layers.edge_begin[round + 1];
        layers.slot_of_edge[edge.model_edge] = static_cast<uint32_t>(layers.edges.size());
        layers.round_of_edge[edge.model_edge] = round;
        layers.edges.push_back(edge);
    }
    for (uint32_t r = 0; r < n_rounds; ++r) layers.edge_begin[r + 1] += layers.edge_begin[r];

    layers.weight_scale = weights.scale;
    layers.correlations = std::move(pairs).value();
    find_bulk(layers);
    layers.distance = graphlike_distance(graph);
    return layers;
}

Status StreamMap::check(const RoundLayers& layers, uint64_t n_rounds) {
    if (n_rounds == layers.n_rounds()) return ok_status();
    if (!layers.repeats()) {
        return value_error("the model's rounds do not repeat, so a stream has its " +
                           std::to_string(layers.n_rounds()) + " rounds; got rounds=" + std::to_string(n_rounds));
    }
    const uint64_t shortest = uint64_t{layers.head()} + layers.tail() + 1;
    if (n_rounds != 0 && n_rounds < shortest) {
        return value_error("rounds must be 0 (no fixed end) or at least " + std::to_string(shortest) +
                           " for this model, got " + std::to_string(n_rounds));
    }
    return ok_status();
}

StreamMap::StreamMap(const RoundLayers& layers, uint64_t n_rounds)
    : layers_(&layers),
      n_rounds_(n_rounds),
      identity_(n_rounds == layers.n_rounds()),
      model_rounds_(layers.n_rounds()),
      head_(layers.head()),
      tail_(layers.tail()),
      bulk_(layers.bulk) {}

uint64_t StreamMap::offset(uint64_t round) const {
    const RoundLayers& l = *layers_;
    if (identity_ || round <= head_) return l.round_begin[round];
    const uint64_t bulk_size = l.size(bulk_);
    if (n_rounds_ == 0 || round <= n_rounds_ - tail_) return l.round_begin[head_] + (round - head_) * bulk_size;
    const uint64_t tail_start = n_rounds_ - tail_;
    return l.round_begin[head_] + (tail_start - head_) * bulk_size + l.round_begin[layer(round - 1) + 1] -
           l.round_begin[l.bulk_end];
}

}  // namespace vornex::stream
