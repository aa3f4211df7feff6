#include "matching/stream/window_graph.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>

namespace vornex::stream {

Result<WindowGraph> build_window_graph(const RoundLayers& layers, std::span<const uint32_t> layers_of_rounds,
                                       const WindowShape& shape) {
    WindowGraph w;
    w.shape = shape;
    const uint32_t length = static_cast<uint32_t>(layers_of_rounds.size());
    w.round_offset.assign(length + 1, 0);
    for (uint32_t i = 0; i < length; ++i) w.round_offset[i + 1] = w.round_offset[i] + layers.size(layers_of_rounds[i]);
    const uint32_t n_nodes = w.round_offset[length];
    w.node_round.resize(n_nodes);
    for (uint32_t i = 0; i < length; ++i)
        for (uint32_t x = w.round_offset[i]; x < w.round_offset[i + 1]; ++x) w.node_round[x] = i;

    // Window edge of each round edge placed in the window, by the window
    // round it is filed under (slot 0: the round below) and its index there.
    const bool has_below = shape.below != UINT32_MAX;
    auto layer_at = [&](int32_t round) { return round < 0 ? shape.below : layers_of_rounds[round]; };
    std::vector<uint32_t> slot_begin(length + 2, 0);
    for (int32_t r = -1; r < static_cast<int32_t>(length); ++r) {
        const size_t count = r >= 0 || has_below ? layers.edges_of(layer_at(r)).size() : 0;
        slot_begin[r + 2] = slot_begin[r + 1] + static_cast<uint32_t>(count);
    }
    std::vector<uint32_t> window_edge_at(slot_begin[length + 1], UINT32_MAX);

    std::vector<sparse::GraphEdge> graph_edges;
    auto add = [&](WindowEdge edge, uint32_t u, uint32_t v, int64_t weight, const RoundEdge& from) {
        const uint32_t index = static_cast<uint32_t>(&from - layers.edges_of(layer_at(edge.earlier_round)).data());
        window_edge_at[slot_begin[edge.earlier_round + 1] + index] = static_cast<uint32_t>(w.edges.size());
        edge.weight = weight;
        graph_edges.push_back({u, v, weight, edge.observables, static_cast<uint32_t>(w.edges.size())});
        w.edges.push_back(edge);
    };
    // The model's own edges first: a cut edge never displaces a boundary edge of equal weight.
    for (const bool cut_pass : {false, true}) {
        for (uint32_t i = 0; i < length; ++i) {
            const uint32_t base = w.round_offset[i];
            for (const RoundEdge& e : layers.edges_of(layers_of_rounds[i])) {
                WindowEdge edge;
                edge.a = base + e.u;
                edge.earlier_round = static_cast<int32_t>(i);
                edge.model_edge = e.model_edge;
                edge.observables = e.observables;
                if (e.v == sparse::kBoundary) {
                    if (cut_pass) continue;
                    edge.kind = EdgeKind::Boundary;
                    add(edge, edge.a, sparse::kBoundary, e.weight, e);
                } else if (i + e.span < length) {
                    if (cut_pass) continue;
                    edge.b = w.round_offset[i + e.span] + e.v;
                    add(edge, edge.a, edge.b, e.weight, e);
                } else if (cut_pass && shape.open_above) {
                    edge.kind = EdgeKind::Cut;
                    edge.b = e.v;
                    edge.b_round = static_cast<int32_t>(i + e.span);
                    add(edge, edge.a, sparse::kBoundary, e.weight, e);
                }
            }
        }
        // Edges from the round below that reach into the window.
        if (cut_pass && shape.below != UINT32_MAX) {
            for (const RoundEdge& e : layers.edges_of(shape.below)) {
                if (e.v == sparse::kBoundary || e.span == 0 || e.span > length) continue;
                WindowEdge edge;
                edge.kind = EdgeKind::Cut;
                edge.a = w.round_offset[e.span - 1] + e.v;
                edge.b = e.u;
                edge.b_round = -1;
                edge.earlier_round = -1;
                edge.model_edge = e.model_edge;
                edge.observables = e.observables;
                add(edge, edge.a, sparse::kBoundary, e.weight, e);
            }
        }
    }
    if (layers.correlations) {
        // Pair (a, b) of the model, with a placed at window round r: b is
        // the edge of the same place in the round that lies as far from r
        // as b's round from a's (the same edge unless the stream repeats
        // rounds the model has once).
        const EdgeCorrelations& pairs = *layers.correlations;
        w.implied_begin.assign(w.edges.size() + 1, 0);
        for (uint32_t id = 0; id < w.edges.size(); ++id) {
            const WindowEdge& a = w.edges[id];
            const int64_t a_layer = layer_at(a.earlier_round);
            for (const EdgeWeight& implied : pairs.implied_by(a.model_edge)) {
                const int64_t round = a.earlier_round + (int64_t{layers.round_of_edge[implied.edge]} - a_layer);
                if (round < (has_below ? -1 : 0) || round >= length) continue;
                const RoundEdge& b = layers.edges[layers.slot_of_edge[implied.edge]];
                const auto there = layers.edges_of(layer_at(static_cast<int32_t>(round)));
                const auto found = std::lower_bound(there.begin(), there.end(), b, [](const RoundEdge& x, const RoundEdge& y) {
                    return std::tie(x.u, x.span, x.v) < std::tie(y.u, y.span, y.v);
                });
                if (found == there.end() || found->u != b.u || found->span != b.span || found->v != b.v) continue;
                const uint32_t target = window_edge_at[slot_begin[round + 1] + static_cast<uint32_t>(found - there.begin())];
                if (target == UINT32_MAX) continue;
                const double scaled = std::min(implied.weight * layers.weight_scale, double(sparse::kMaxEdgeWeight));
                w.implied.push_back({target, static_cast<double>(std::llround(std::max(scaled, 0.0)))});
            }
            w.implied_begin[id + 1] = static_cast<uint32_t>(w.implied.size());
        }
    }
    auto graph = sparse::build_matching_graph(n_nodes, graph_edges);
    if (!graph) return graph.error();
    // Weights are already the engine's integers; no per-shot weights are given.
    auto matcher = ExactMatcher::create(std::move(graph).value(), w.edges.size(), 1.0);
    if (!matcher) return matcher.error();
    w.matcher.emplace(std::move(matcher).value());
    return w;
}

Result<const WindowGraph*> WindowGraphCache::get(const StreamMap& map, uint64_t first, uint32_t length,
                                                 bool open_below, bool open_above) {
    WindowShape shape;
    shape.first = map.layer(first);
    shape.last = map.layer(first + length - 1);
    shape.length = length;
    shape.below = open_below ? map.layer(first - 1) : UINT32_MAX;
    shape.open_above = open_above;
    shape.repeated = !map.identity();
    std::lock_guard guard(lock_);
    auto found = graphs_.find(shape);
    if (found != graphs_.end()) return found->second.get();
    layer_scratch_.resize(length);
    for (uint32_t i = 0; i < length; ++i) layer_scratch_[i] = map.layer(first + i);
    auto built = build_window_graph(*layers_, layer_scratch_, shape);
    if (!built) return built.error();
    auto owned = std::make_unique<WindowGraph>(std::move(built).value());
    const WindowGraph* graph = owned.get();
    graphs_.emplace(shape, std::move(owned));
    return graph;
}

size_t WindowGraphCache::size() const {
    std::lock_guard guard(lock_);
    return graphs_.size();
}

}  // namespace vornex::stream
