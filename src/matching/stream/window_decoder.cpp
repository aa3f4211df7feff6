#include "matching/stream/window_decoder.h"

namespace vornex::stream {

using sparse::kBoundary;
using sparse::NodeId;

Status WindowDecoder::commit(const WindowGraph& w, std::span<const NodeId> events, uint32_t commit_begin,
                             uint32_t commit_end, bool want_edges, WindowCommit& out) {
    out.observables = 0;
    out.flips.clear();
    out.edges.clear();
    const ExactMatcher& matcher = *w.matcher;
    const uint32_t lo = w.round_offset[commit_begin], hi = w.round_offset[commit_end];
    if (lo == 0 && hi == matcher.n_nodes() && !want_edges) return matcher.match(events, out.observables);
    if (auto status = matcher.match_pairs(events, pairs_); !status) return status;
    const auto inside = [&](NodeId x) { return x != kBoundary && x >= lo && x < hi; };
    for (const MatchedEnds& pair : pairs_) {
        const bool a_in = inside(pair.a), b_in = inside(pair.b);
        if (!a_in && !b_in) continue;  // left to the window that commits its rounds
        if (a_in && b_in) {
            // Committed whole, even where the path leaves the region: its ends
            // are the only events it cancels.
            if (!want_edges) {
                out.observables ^= pair.observables;
                continue;
            }
            matcher.shortest_path(pair.a, pair.b, path_);
            for (const uint32_t id : path_) {
                out.observables ^= w.edges[id].observables;
                out.edges.push_back({w.edges[id].earlier_round, w.edges[id].model_edge});
            }
            continue;
        }
        walk(w, a_in ? pair.a : pair.b, a_in ? pair.b : pair.a, lo, hi, want_edges, out);
    }
    return ok_status();
}

void WindowDecoder::walk(const WindowGraph& w, NodeId from, NodeId to, uint32_t lo, uint32_t hi, bool want_edges,
                         WindowCommit& out) {
    w.matcher->shortest_path(from, to, path_);
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
