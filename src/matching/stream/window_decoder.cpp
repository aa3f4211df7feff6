#include "matching/stream/window_decoder.h"

#include <algorithm>

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
    const bool whole = lo == 0 && hi == matcher.n_nodes() && !want_edges;
    second_.clear();
    if (w.correlated() && !events.empty()) {
        ObsMask first_pass = 0;
        if (auto status = matcher.match_edges(events, first_, {}, &first_pass); !status) return status;
        reweight(w);
        if (whole && second_.empty()) {  // nothing lowered: the first pass stands
            out.observables = first_pass;
            return ok_status();
        }
    }
    if (whole) return matcher.match(events, out.observables, second_);
    if (auto status = matcher.match_pairs(events, pairs_, second_); !status) return status;
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
            matcher.shortest_path(pair.a, pair.b, path_, second_);
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

void WindowDecoder::reweight(const WindowGraph& w) {
    if (stamp_.size() < w.edges.size()) {
        stamp_.resize(w.edges.size(), 0);
        lowered_.resize(w.edges.size(), 0);
    }
    if (++clock_ == 0) {  // the stamps wrapped: none is current
        std::fill(stamp_.begin(), stamp_.end(), 0);
        clock_ = 1;
    }
    for (const uint32_t a : first_) {
        for (const EdgeWeight& implied : w.implied_by(a)) {
            const uint32_t b = implied.edge;
            const double current = stamp_[b] == clock_ ? lowered_[b] : static_cast<double>(w.edges[b].weight);
            if (implied.weight >= current) continue;
            stamp_[b] = clock_;
            lowered_[b] = implied.weight;
            second_.push_back(implied);
        }
    }
}

void WindowDecoder::walk(const WindowGraph& w, NodeId from, NodeId to, uint32_t lo, uint32_t hi, bool want_edges,
                         WindowCommit& out) {
    w.matcher->shortest_path(from, to, path_, second_);
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
