#include "matching/stream/window_decoder.h"

#include <algorithm>

namespace vornex::stream {

using sparse::kBoundary;
using sparse::NodeId;

void WindowMatcher::path(const sparse::MatchingGraph& graph, NodeId from, NodeId to, std::vector<uint32_t>& path) {
    path.clear();
    paths_.append_path(graph, from, to, path);
    // The search reads the path back from its target.
    std::reverse(path.begin(), path.end());
}

Status WindowDecoder::commit(const WindowGraph& w, std::span<const NodeId> events, uint32_t commit_begin,
                             uint32_t commit_end, bool want_edges, WindowCommit& out) {
    out.observables = 0;
    out.flips.clear();
    out.edges.clear();
    if (auto status = matcher_.match(w.graph, events, matching_); !status) return status;
    const uint32_t lo = w.round_offset[commit_begin], hi = w.round_offset[commit_end];
    const bool whole = lo == 0 && hi == w.graph.n_nodes;
    if (whole && !want_edges) {
        out.observables = matching_.observables;
        return ok_status();
    }
    const auto committed = [&](NodeId x) { return x != kBoundary && x >= lo && x < hi; };
    for (const sparse::MatchedPair& pair : matching_.pairs) {
        const bool from_in = committed(pair.from), to_in = committed(pair.to);
        if (!from_in && !to_in) continue;
        if (from_in && to_in) {
            // Committed whole, even where the path leaves the region: its
            // ends are the only events it cancels.
            if (!want_edges) {
                out.observables ^= pair.observables;
                continue;
            }
            matcher_.path(w.graph, pair.from, pair.to, path_);
            for (const uint32_t id : path_) {
                out.observables ^= w.edges[id].observables;
                out.edges.push_back({w.edges[id].earlier_round, w.edges[id].model_edge});
            }
            continue;
        }
        if (from_in) {
            walk(w, pair.from, pair.to, lo, hi, want_edges, out);
        } else {
            walk(w, pair.to, pair.from, lo, hi, want_edges, out);
        }
    }
    return ok_status();
}

void WindowDecoder::walk(const WindowGraph& w, NodeId from, NodeId to, uint32_t lo, uint32_t hi, bool want_edges,
                         WindowCommit& out) {
    matcher_.path(w.graph, from, to, path_);
    NodeId at = from;
    for (const uint32_t id : path_) {
        const WindowEdge& e = w.edges[id];
        out.observables ^= e.observables;
        if (want_edges) out.edges.push_back({e.earlier_round, e.model_edge});
        if (e.kind == EdgeKind::Boundary) return;
        if (e.kind == EdgeKind::Cut) {
            out.flips.push_back({e.b_round, e.b});
            return;
        }
        at = e.a == at ? e.b : e.a;
        if (at < lo || at >= hi) {
            const uint32_t round = w.node_round[at];
            out.flips.push_back({static_cast<int32_t>(round), at - w.round_offset[round]});
            return;
        }
    }
}

}  // namespace vornex::stream
