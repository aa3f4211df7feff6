#include "matching/stream/window_decoder.h"

namespace vornex::stream {

using sparse::NodeId;

Status WindowDecoder::commit(const WindowGraph& w, std::span<const NodeId> events, uint32_t commit_begin,
                             uint32_t commit_end, bool want_edges, WindowCommit& out) {
    out.observables = 0;
    out.flips.clear();
    out.edges.clear();
    const ExactMatcher& matcher = *w.matcher;
    const uint32_t lo = w.round_offset[commit_begin], hi = w.round_offset[commit_end];
    if (lo == 0 && hi == matcher.n_nodes() && !want_edges) return matcher.match(events, out.observables);
    if (auto status = matcher.match_edges(events, correction_); !status) return status;
    const auto inside = [&](NodeId x) { return x >= lo && x < hi; };
    const auto flip = [&](NodeId x) {
        const uint32_t round = w.node_round[x];
        out.flips.push_back({static_cast<int32_t>(round), x - w.round_offset[round]});
    };
    for (const uint32_t id : correction_) {
        const WindowEdge& e = w.edges[id];
        const bool a_in = inside(e.a), b_in = e.kind == EdgeKind::Inner && inside(e.b);
        if (!a_in && !b_in) continue;
        out.observables ^= e.observables;
        if (want_edges) out.edges.push_back({e.earlier_round, e.model_edge});
        if (e.kind == EdgeKind::Inner) {
            if (!a_in) flip(e.a);
            if (!b_in) flip(e.b);
        } else if (e.kind == EdgeKind::Cut) {
            out.flips.push_back({e.b_round, e.b});
        }
    }
    return ok_status();
}

}  // namespace vornex::stream
