// The one door to the exact sparse matching engine.
//
// Every matching decoder (plain, correlated, belief, learned, stream) drives
// the engine through this class: build it once from a graph, then match one
// shot's fired detectors, getting back the observable flips or the matched
// edges. A shot may carry its own weights for a few edges (a list of edge
// and weight, for that shot only): they are written into the calling
// thread's copy of the graph before the match and undone after it, so a
// re-weighted shot costs its overrides and never a rebuild, and once a
// thread has its copy nothing is allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "base/result.h"
#include "base/thread_scratch.h"
#include "matching/model_graph.h"
#include "matching/sparse/matching_graph.h"
#include "matching/sparse/sparse_types.h"

namespace vornex {

// One edge's weight for one shot, in the real units the matcher was built
// with (for a model: ln((1 - p) / p)); finite and non-negative.
struct EdgeWeight {
    uint32_t edge;
    double weight;
};

// A matched pair of fired nodes (b == kBoundary for the boundary) and the
// observables of the engine's shortest path between them.
struct MatchedEnds {
    sparse::NodeId a;
    sparse::NodeId b;
    sparse::ObsMask observables;
};

class ExactMatcher {
public:
    // An empty graph: matches only shots without events. Assign a created one.
    ExactMatcher() = default;
    // `graph` with edge ids below n_edges; `scale` turns a real override
    // weight w into the engine's integer llround(w * scale).
    static Result<ExactMatcher> create(sparse::MatchingGraph graph, size_t n_edges, double scale);
    // The graph of a model (see model_graph.h).
    static Result<ExactMatcher> create(ModelMatchingGraph graph);

    const sparse::MatchingGraph& graph() const { return graph_; }
    size_t n_nodes() const { return graph_.n_nodes; }
    // Edge ids run below this; ids the graph dropped (self-loops, heavier
    // parallel edges) take no weight and are never matched.
    size_t n_edges() const { return n_edges_; }
    // The two ends of an edge (v == kBoundary for a boundary edge; u < v
    // for a model's edges), both kNone for an edge the graph dropped.
    std::pair<sparse::NodeId, sparse::NodeId> ends(uint32_t edge) const;
    // The engine's integer for a real weight (clamped to the engine's range).
    int64_t engine_weight(double weight) const;
    // The `scale` of engine_weight: a graph re-weighted with it rounds as this one.
    double weight_scale() const { return scale_; }

    // Minimum-weight matching of `fired` (distinct node ids) with the
    // boundary; `observables` gets the XOR of the matched paths' masks.
    // Fails with the engine's text when no perfect matching exists, or on a
    // bad override (an edge id out of range, a negative or non-finite
    // weight), changing nothing.
    Status match(std::span<const sparse::NodeId> fired, sparse::ObsMask& observables,
                 std::span<const EdgeWeight> overrides = {}) const;

    // The same matching as its edges: `edges` is overwritten with the ids of
    // the edges that an odd number of matched shortest paths run along, path
    // by path (the correction: each edge once); `observables`, when given,
    // gets the matching's observable flips as match() gives them.
    Status match_edges(std::span<const sparse::NodeId> fired, std::vector<uint32_t>& edges,
                       std::span<const EdgeWeight> overrides = {}, sparse::ObsMask* observables = nullptr) const;

    // The same matching as its pairs (overwritten), for a caller that needs
    // paths of some pairs only (a window keeping part of its correction);
    // `observables`, when given, gets the matching's flips.
    Status match_pairs(std::span<const sparse::NodeId> fired, std::vector<MatchedEnds>& pairs,
                       std::span<const EdgeWeight> overrides = {}, sparse::ObsMask* observables = nullptr) const;
    // The edge ids of a shortest path from `from` to `to` (kBoundary for the
    // boundary), in order from `from`, into `path` (overwritten), under the
    // given overrides (those of the match whose pair it traces); false when
    // `to` cannot be reached or an override is bad.
    bool shortest_path(sparse::NodeId from, sparse::NodeId to, std::vector<uint32_t>& path,
                       std::span<const EdgeWeight> overrides = {}) const;

    // The calling thread's scratch held for a run of shots (a batch's range
    // of rows), so that each shot goes straight to the engine; the calls
    // above take it shot by shot. Matches as match() without overrides.
    class Held;

private:
    struct Scratch;
    Status apply(std::span<const EdgeWeight> overrides, Scratch& s) const;
    static void restore(Scratch& s);

    sparse::MatchingGraph graph_;
    size_t n_edges_ = 0;
    double scale_ = 1.0;
    std::vector<uint32_t> half_edges_;  // per edge id, its two half-edges (kNone where it has fewer)
    uint64_t serial_ = 0;               // tells a thread's copy of this graph from copies of others'
};

class ExactMatcher::Held {
public:
    explicit Held(const ExactMatcher& matcher);
    ~Held();
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

    Status match(std::span<const sparse::NodeId> fired, sparse::ObsMask& observables);

private:
    const ExactMatcher& matcher_;
    ScratchLease<Scratch> lease_;
};

}  // namespace vornex
