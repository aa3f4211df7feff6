#include "matching/exact_matcher.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <string>
#include <utility>

#include "base/thread_scratch.h"
#include "matching/sparse/path_search.h"
#include "matching/sparse/sparse_engine.h"

namespace vornex {

namespace {

std::atomic<uint64_t> next_serial{1};

}  // namespace

// One thread's state for every ExactMatcher; only grows.
struct ExactMatcher::Scratch {
    sparse::SparseEngine engine;
    sparse::PathSearch paths;
    sparse::SparseMatching matching;
    sparse::MatchingGraph reweighted;  // copy of one matcher's graph, holding its weights between shots
    uint64_t reweighted_serial = 0;    // that matcher; 0 before the first re-weighted shot
    std::vector<std::pair<uint32_t, sparse::Time>> saved;  // half-edge and its weight before this shot's override
    std::vector<uint32_t> path;        // edge ids of the matched paths, with repeats
    std::vector<uint8_t> parity;       // per edge id: paths through it, mod 2; all zero between calls
    bool busy = false;
};

Result<ExactMatcher> ExactMatcher::create(sparse::MatchingGraph graph, size_t n_edges, double scale) {
    if (!(scale > 0) || !std::isfinite(scale)) return value_error("weight scale must be finite and > 0");
    ExactMatcher m;
    m.half_edges_.assign(2 * n_edges, sparse::kNone);
    for (uint32_t h = 0; h < graph.n_half_edges(); ++h) {
        const uint32_t id = graph.edge_id[h];
        if (id >= n_edges) {
            return value_error("half-edge " + std::to_string(h) + " has edge id " + std::to_string(id) +
                               ", expected below " + std::to_string(n_edges));
        }
        uint32_t* slot = &m.half_edges_[2 * size_t{id}];
        (slot[0] == sparse::kNone ? slot[0] : slot[1]) = h;
    }
    m.graph_ = std::move(graph);
    m.n_edges_ = n_edges;
    m.scale_ = scale;
    m.serial_ = next_serial.fetch_add(1);
    return m;
}

Result<ExactMatcher> ExactMatcher::create(ModelMatchingGraph graph) {
    const size_t n_edges = graph.weights.size();
    return create(std::move(graph.graph), n_edges, graph.scale);
}

std::pair<sparse::NodeId, sparse::NodeId> ExactMatcher::ends(uint32_t edge) const {
    const uint32_t h = edge < n_edges_ ? half_edges_[2 * size_t{edge}] : sparse::kNone;
    if (h == sparse::kNone) return {sparse::kNone, sparse::kNone};
    // The row holding half-edge h; rows ascend, so h is the half from the lower end.
    const auto row = std::upper_bound(graph_.row_begin.begin(), graph_.row_begin.end(), h) - graph_.row_begin.begin() - 1;
    return {static_cast<sparse::NodeId>(row), graph_.neighbour[h]};
}

int64_t ExactMatcher::engine_weight(double weight) const {
    const double scaled = std::min(weight * scale_, static_cast<double>(sparse::kMaxEdgeWeight));
    return std::llround(std::max(scaled, 0.0));
}

Status ExactMatcher::apply(std::span<const EdgeWeight> overrides, Scratch& s) const {
    for (size_t i = 0; i < overrides.size(); ++i) {
        const EdgeWeight& o = overrides[i];
        if (o.edge >= n_edges_) {
            return value_error("weight override " + std::to_string(i) + " names edge " + std::to_string(o.edge) +
                               ", but the graph has " + std::to_string(n_edges_) + " edges");
        }
        if (!std::isfinite(o.weight) || o.weight < 0) {
            return value_error("weight override " + std::to_string(i) + " (edge " + std::to_string(o.edge) +
                               ") is " + std::to_string(o.weight) + "; weights must be finite and >= 0");
        }
    }
    if (s.reweighted_serial != serial_) {
        s.reweighted = graph_;  // once per thread and matcher; later shots reuse it
        s.reweighted_serial = serial_;
    }
    s.saved.clear();
    for (const EdgeWeight& o : overrides) {
        // Doubled, as build_matching_graph stores weights (see matching_graph.h).
        const sparse::Time w = 2 * engine_weight(o.weight);
        for (int side = 0; side < 2; ++side) {
            const uint32_t h = half_edges_[2 * size_t{o.edge} + side];
            if (h == sparse::kNone) continue;
            s.saved.push_back({h, s.reweighted.weight[h]});
            s.reweighted.weight[h] = w;
        }
    }
    return ok_status();
}

// Undone in reverse, so an edge overridden twice gets its build weight back.
void ExactMatcher::restore(Scratch& s) {
    for (size_t i = s.saved.size(); i-- > 0;) s.reweighted.weight[s.saved[i].first] = s.saved[i].second;
    s.saved.clear();
}

Status ExactMatcher::match(std::span<const sparse::NodeId> fired, sparse::ObsMask& observables,
                           std::span<const EdgeWeight> overrides) const {
    ScratchLease<Scratch> lease;
    Scratch& s = lease.get();
    if (overrides.empty()) {
        if (auto status = s.engine.match(graph_, fired, s.matching); !status) return status;
        observables = s.matching.observables;
        return ok_status();
    }
    if (auto status = apply(overrides, s); !status) return status;
    const Status status = s.engine.match(s.reweighted, fired, s.matching);
    restore(s);
    if (!status) return status;
    observables = s.matching.observables;
    return ok_status();
}

ExactMatcher::Held::Held(const ExactMatcher& matcher) : matcher_(matcher) {}

ExactMatcher::Held::~Held() = default;

Status ExactMatcher::Held::match(std::span<const sparse::NodeId> fired, sparse::ObsMask& observables) {
    Scratch& s = lease_.get();
    if (auto status = s.engine.match(matcher_.graph_, fired, s.matching); !status) return status;
    observables = s.matching.observables;
    return ok_status();
}

Status ExactMatcher::match_edges(std::span<const sparse::NodeId> fired, std::vector<uint32_t>& edges,
                                 std::span<const EdgeWeight> overrides, sparse::ObsMask* observables) const {
    ScratchLease<Scratch> lease;
    Scratch& s = lease.get();
    const sparse::MatchingGraph* graph = &graph_;
    if (!overrides.empty()) {
        if (auto status = apply(overrides, s); !status) return status;
        graph = &s.reweighted;
    }
    Status status = s.engine.match(*graph, fired, s.matching);
    if (status) {
        s.path.clear();
        for (const sparse::MatchedPair& p : s.matching.pairs) s.paths.append_path(*graph, p.from, p.to, s.path);
        if (s.parity.size() < n_edges_) s.parity.resize(n_edges_, 0);
        for (const uint32_t e : s.path) s.parity[e] ^= 1;
        edges.clear();
        for (const uint32_t e : s.path) {
            if (s.parity[e]) edges.push_back(e);
            s.parity[e] = 0;
        }
        if (observables != nullptr) *observables = s.matching.observables;
    }
    if (!overrides.empty()) restore(s);
    return status;
}

Status ExactMatcher::match_pairs(std::span<const sparse::NodeId> fired, std::vector<MatchedEnds>& pairs,
                                 std::span<const EdgeWeight> overrides, sparse::ObsMask* observables) const {
    ScratchLease<Scratch> lease;
    Scratch& s = lease.get();
    const sparse::MatchingGraph* graph = &graph_;
    if (!overrides.empty()) {
        if (auto status = apply(overrides, s); !status) return status;
        graph = &s.reweighted;
    }
    const Status status = s.engine.match(*graph, fired, s.matching);
    if (!overrides.empty()) restore(s);
    if (!status) return status;
    pairs.clear();
    for (const sparse::MatchedPair& p : s.matching.pairs) pairs.push_back({p.from, p.to, p.observables});
    if (observables != nullptr) *observables = s.matching.observables;
    return ok_status();
}

bool ExactMatcher::shortest_path(sparse::NodeId from, sparse::NodeId to, std::vector<uint32_t>& path,
                                 std::span<const EdgeWeight> overrides) const {
    ScratchLease<Scratch> lease;
    Scratch& s = lease.get();
    path.clear();
    const sparse::MatchingGraph* graph = &graph_;
    if (!overrides.empty()) {
        if (!apply(overrides, s)) return false;
        graph = &s.reweighted;
    }
    const bool found = s.paths.append_path(*graph, from, to, path);
    if (!overrides.empty()) restore(s);
    if (!found) {
        path.clear();
        return false;
    }
    // The search reads the path back from its target.
    std::reverse(path.begin(), path.end());
    return true;
}

}  // namespace vornex
