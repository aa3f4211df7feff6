// Flooding: regions claim and release graph nodes as their radii change,
// and every node of a growing region keeps one queued look at its edges.
#include <algorithm>
#include <string>

#include "matching/sparse/sparse_engine.h"

namespace vornex::sparse {

void SparseEngine::prepare(const MatchingGraph& graph) {
    graph_ = &graph;
    const size_t n = graph.n_nodes;
    // owner_event_ is what says the arrays are ready, so it grows last: an
    // allocation that fails part-way leaves them all to be grown again.
    if (owner_event_.size() < n) {
        distance_.resize(n, 0);
        obs_from_.resize(n, 0);
        shell_below_.resize(n, kNone);
        node_version_.resize(n, 0);
        event_region_.resize(n, kNone);
        event_top_.resize(n, kNone);
        event_wrapped_.resize(n, 0);
        owner_event_.resize(n, kNone);
    }
}

Time SparseEngine::local_radius(NodeId node, Time now) const {
    const NodeId source = owner_event_[node];
    return regions_[event_top_[source]].radius(now) + event_wrapped_[source] - distance_[node];
}

// The claiming region grows (only a growing region claims), and the new
// node's local radius is the claimer's less the edge between them.
void SparseEngine::claim(NodeId node, NodeId from, uint32_t half_edge, RegionId region, Time from_radius, Time now) {
    const NodeId source = owner_event_[from];
    const Time w = graph_->weight[half_edge];
    owner_event_[node] = source;
    distance_[node] = distance_[from] + w;
    obs_from_[node] = obs_from_[from] ^ graph_->observables[half_edge];
    shell_below_[node] = regions_[region].shell_top;
    regions_[region].shell_top = node;
    touched_.push_back(node);
    schedule_edges(node, source, region, 1, from_radius - w, now);
}

// When edge k of a node of `region` (reached from event `source`, own
// speed, local radius a) next needs attention: now or earlier when it is
// due, kNever when it cannot be. Inlined into the two edge scans, the
// engine's hottest loops; a neighbour reached from the same event is the
// common case inside a region and is settled without looking up regions.
[[gnu::always_inline]] inline Time SparseEngine::edge_due(uint32_t k, NodeId source, RegionId region, int own_speed,
                                                         Time a, Time now) const {
    const MatchingGraph& g = *graph_;
    const NodeId x = g.neighbour[k];
    const NodeId owner = x == kBoundary ? kNone : owner_event_[x];
    if (owner == source) return kNever;
    if (owner == kNone) return own_speed == 1 ? now + (g.weight[k] - a) : kNever;
    const RegionId other = event_top_[owner];
    if (other == region) return kNever;
    const int speed = own_speed + regions_[other].slope;
    if (speed <= 0) return kNever;
    const Time gap = g.weight[k] - a - local_radius(x, now);
    // Speed is 1 or 2, and two growing regions' gap is even (matching_graph.h).
    return now + (speed == 2 && gap > 0 ? (gap + 1) / 2 : gap);
}

void SparseEngine::schedule_node(NodeId node, Time now) {
    const NodeId source = owner_event_[node];
    const RegionId region = event_top_[source];
    schedule_edges(node, source, region, regions_[region].slope, local_radius(node, now), now);
}

// Queues the next look of `node` (of `region`, reached from `source`, with
// the region's speed and the node's local radius a).
[[gnu::always_inline]] inline void SparseEngine::schedule_edges(NodeId node, NodeId source, RegionId region,
                                                               int own_speed, Time a, Time now) {
    Time next = kNever;
    const MatchingGraph& g = *graph_;
    for (uint32_t k = g.row_begin[node]; k < g.row_begin[node + 1]; ++k)
        next = std::min(next, edge_due(k, source, region, own_speed, a, now));
    queue_look(node, next, now);
}

// The first look of an event, at time 0: every region is then one event
// growing from radius 0, so an edge is due after its weight towards a free
// node or the boundary and after half of it towards another event (what
// schedule_node finds, without the region lookups).
void SparseEngine::schedule_seed(NodeId event) {
    const MatchingGraph& g = *graph_;
    Time next = kNever;
    for (uint32_t k = g.row_begin[event]; k < g.row_begin[event + 1]; ++k) {
        const NodeId x = g.neighbour[k];
        const Time w = g.weight[k];
        const bool towards_event = x != kBoundary && owner_event_[x] != kNone;
        next = std::min(next, towards_event ? (w + 1) / 2 : w);
    }
    queue_look(event, next, 0);
}

void SparseEngine::queue_look(NodeId node, Time when, Time now) {
    const uint32_t version = node_version_[node] += 2;
    if (when != kNever) queue_.push({std::max(when, now), node, version});
}

void SparseEngine::schedule_region_nodes(RegionId region, Time now) {
    for_each_node_in(region, [&](NodeId x) { schedule_node(x, now); });
}

void SparseEngine::schedule_shrink(RegionId region, Time now) {
    const Region& r = regions_[region];
    const NodeId outer = r.shell_top;
    Time t;
    if (outer == kNone || outer == r.event) {
        t = now + r.radius(now);  // shatter or implosion once the radius is spent
    } else {
        t = now + local_radius(outer, now);
    }
    queue_.push({std::max(t, now), region, region_stamp(r.version)});
}

void SparseEngine::on_node_event(NodeId node, Time now) {
    if (owner_event_[node] == kNone) return;
    const NodeId source = owner_event_[node];
    const RegionId region = event_top_[source];
    const int own_speed = regions_[region].slope;
    // Handle the edges due now (none when the look was early) and find the
    // next look in the same pass, unless a collision changed the regions.
    const MatchingGraph& g = *graph_;
    const Time a = local_radius(node, now);
    Time next = kNever;
    for (uint32_t k = g.row_begin[node]; k < g.row_begin[node + 1]; ++k) {
        const Time due = edge_due(k, source, region, own_speed, a, now);
        if (due > now) {
            next = std::min(next, due);
            continue;
        }
        const NodeId x = g.neighbour[k];
        const Time w = g.weight[k];
        if (x == kBoundary) {
            on_boundary(region, {source, kBoundary, obs_from_[node] ^ g.observables[k], distance_[node] + w}, now);
            return schedule_node(node, now);
        }
        if (owner_event_[x] == kNone) {
            claim(x, node, k, region, a, now);
            continue;  // claiming changes no region; other edges may be due too
        }
        const RegionId other = event_top_[owner_event_[x]];
        const CompressedEdge edge{source, owner_event_[x], obs_from_[node] ^ g.observables[k] ^ obs_from_[x],
                                  distance_[node] + w + distance_[x]};
        if (own_speed == 1) {
            on_collision(region, other, edge, now);
        } else {
            on_collision(other, region, edge.reversed(), now);
        }
        return schedule_node(node, now);
    }
    queue_look(node, next, now);
}

void SparseEngine::on_shrink_event(RegionId region, Time now) {
    const Region& r = regions_[region];
    if (r.slope != -1) return;
    const NodeId outer = r.shell_top;
    if (outer != kNone && outer != r.event) {
        if (local_radius(outer, now) > 0) return schedule_shrink(region, now);
        release_outermost(region, now);
        return schedule_shrink(region, now);
    }
    if (r.radius(now) > 0) return schedule_shrink(region, now);
    if (outer == kNone) return shatter(region, now);
    on_implosion(region, now);
}

void SparseEngine::release_outermost(RegionId region, Time now) {
    const NodeId x = regions_[region].shell_top;
    regions_[region].shell_top = shell_below_[x];
    owner_event_[x] = kNone;
    node_version_[x] += 2;
    // Growing neighbours that faced a shrinking owner now face a free node.
    const MatchingGraph& g = *graph_;
    for (uint32_t k = g.row_begin[x]; k < g.row_begin[x + 1]; ++k) {
        const NodeId y = g.neighbour[k];
        if (y == kBoundary || owner_event_[y] == kNone) continue;
        if (regions_[event_top_[owner_event_[y]]].slope == 1) schedule_node(y, now);
    }
}

Status SparseEngine::match(const MatchingGraph& graph, std::span<const NodeId> events, SparseMatching& out) {
    prepare(graph);
    out.pairs.clear();
    out.observables = 0;
    out.weight = 0;
    if (events.size() >= (size_t{1} << 31)) return value_error("too many detection events: " + std::to_string(events.size()));
    for (size_t i = 0; i < events.size(); ++i) {
        const NodeId e = events[i];
        if (e >= graph.n_nodes) {
            reset_shot();
            return value_error("detection event " + std::to_string(e) + " is not a node of the graph (" +
                               std::to_string(graph.n_nodes) + " nodes)");
        }
        if (owner_event_[e] != kNone) {
            reset_shot();
            return value_error("detection event " + std::to_string(e) + " is listed twice");
        }
        Region r;
        r.event = e;
        r.role = TreeRole::Outer;
        r.slope = 1;
        regions_.push_back(r);
        const auto id = static_cast<RegionId>(i);
        owner_event_[e] = e;
        distance_[e] = 0;
        obs_from_[e] = 0;
        shell_below_[e] = kNone;
        regions_[id].shell_top = e;
        touched_.push_back(e);
        event_region_[e] = id;
        event_top_[e] = id;
        event_wrapped_[e] = 0;
    }
    for (const NodeId e : events) schedule_seed(e);

    while (!queue_.empty()) {
        const QueuedEvent ev = queue_.pop();
        if (ev.is_region()) {
            if (region_stamp(regions_[ev.target].version) == ev.stamp) on_shrink_event(ev.target, ev.time);
        } else if (node_version_[ev.target] == ev.stamp) {
            on_node_event(ev.target, ev.time);
        }
    }

    for (const NodeId e : events) {
        if (regions_[event_top_[e]].role != TreeRole::None) {
            reset_shot();
            return value_error("no perfect matching: detection event " + std::to_string(e) +
                               " lies in a part of the graph with an odd number of events and no boundary");
        }
    }
    extract(events, out);
    reset_shot();
    return ok_status();
}

void SparseEngine::reset_shot() {
    for (const NodeId x : touched_) owner_event_[x] = kNone;
    touched_.clear();
    regions_.clear();
    cycles_.clear();
    walk_.clear();
    queue_.clear();
}

}  // namespace vornex::sparse
