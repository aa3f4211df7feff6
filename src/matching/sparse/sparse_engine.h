// Exact minimum-weight perfect matching of detection events on the sparse
// detector graph, with the boundary as an always-available partner.
//
// The primal-dual blossom algorithm (Edmonds) run directly on the detector
// graph, as in the sparse blossom and fusion blossom papers: every event
// seeds a region whose radius is its dual variable; a region owns the nodes
// within its radius, so regions grow over the graph instead of over a
// complete graph of events. Regions collide along tight edges and form
// alternating trees; outer regions grow, inner ones shrink, odd cycles of
// outer regions become blossoms, and inner blossoms that shrink to nothing
// shatter. All changes happen at integer times taken from one radix queue,
// so the work follows the events of a shot, not the size of the graph.
//
// Dual feasibility keeps the regions' balls disjoint, so each node has at
// most one owner and the state is a handful of flat arrays per node.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "base/result.h"
#include "matching/sparse/compressed_edge.h"
#include "matching/sparse/matching_graph.h"
#include "matching/sparse/radix_queue.h"
#include "matching/sparse/sparse_types.h"

namespace vornex::sparse {

// A matched pair of detection events (to == kBoundary for the boundary),
// with the parity of observables along a shortest path between them and its
// length in the caller's weight units.
struct MatchedPair {
    NodeId from;
    NodeId to;
    ObsMask observables;
    int64_t weight;
};

// The matching of one shot.
struct SparseMatching {
    std::vector<MatchedPair> pairs;
    ObsMask observables = 0;  // XOR over the pairs
    int64_t weight = 0;       // total, in the caller's weight units
};

enum class TreeRole : uint8_t { None, Outer, Inner };

// A detection event or a blossom of regions.
struct Region {
    // Radius (dual variable) as a line in time: radius0 + slope * (t - time0).
    Time radius0 = 0;
    Time time0 = 0;
    int8_t slope = 0;  // +1 outer, -1 inner, 0 matched or inside a blossom
    TreeRole role = TreeRole::None;
    NodeId event = kNone;             // the detection event of a trivial region, kNone for a blossom
    RegionId blossom_parent = kNone;  // the blossom holding this region, kNone when top-level
    uint32_t cycle_begin = 0;         // blossom: its children in the workspace's cycle pool
    uint32_t cycle_size = 0;
    NodeId shell_top = kNone;  // last node claimed while top-level; older ones via shell_below
    uint32_t version = 0;      // bumped on every change of slope; queued shrink events carry it
    uint32_t mark = 0;         // scratch stamp for ancestor and membership walks

    // Alternating tree links: the parent, the edge towards it (from a node
    // in this region), and the children as an intrusive sibling list.
    RegionId tree_parent = kNone;
    CompressedEdge parent_edge;
    RegionId first_child = kNone;
    RegionId next_sibling = kNone;
    RegionId prev_sibling = kNone;

    // Partner region, kBoundary, or kNone; the edge runs from this region.
    RegionId match = kNone;
    CompressedEdge match_edge;

    Time radius(Time t) const { return radius0 + slope * (t - time0); }
};

// One child of a blossom and the edge to the next child of the odd cycle.
struct CycleEntry {
    RegionId child;
    CompressedEdge to_next;
};

// A queued change: a node of a growing region reaching along an edge, or a
// shrinking region losing its outermost node or its last radius.
// Sixteen bytes, as the queue moves every item a few times: the kind rides
// in the stamp's low bit (node versions step by 2 and stay even; a region's
// stamp is 2 * version + 1).
struct QueuedEvent {
    Time time;
    uint32_t target;  // node id or region id
    uint32_t stamp;   // must equal the target's stamp when popped, else stale

    bool is_region() const { return stamp & 1; }
};

inline uint32_t region_stamp(uint32_t version) { return 2 * version + 1; }

// Reusable state of the engine. One per thread; arrays only grow, and every
// per-node entry a shot touches is reset at its end.
class SparseEngine {
public:
    // Matches `events` (distinct node ids) on `graph` into `out`. Fails with
    // a text when an event lies in a part of the graph with no boundary and
    // an odd number of events, where no perfect matching exists.
    Status match(const MatchingGraph& graph, std::span<const NodeId> events, SparseMatching& out);

    bool busy = false;  // held by a ScratchLease on this thread

private:
    // --- flooding (flooder.cpp)
    void prepare(const MatchingGraph& graph);
    Time local_radius(NodeId node, Time now) const;
    void claim(NodeId node, NodeId from, uint32_t half_edge, RegionId region, Time from_radius, Time now);
    Time edge_due(uint32_t half_edge, NodeId source, RegionId region, int own_speed, Time a, Time now) const;
    void schedule_node(NodeId node, Time now);
    void schedule_seed(NodeId event);
    void schedule_edges(NodeId node, NodeId source, RegionId region, int own_speed, Time a, Time now);
    void queue_look(NodeId node, Time when, Time now);
    void schedule_region_nodes(RegionId region, Time now);
    void schedule_shrink(RegionId region, Time now);
    void on_node_event(NodeId node, Time now);
    void on_shrink_event(RegionId region, Time now);
    void release_outermost(RegionId region, Time now);
    template <class F>
    void for_each_event_in(RegionId region, F&& f);
    template <class F>
    void for_each_node_in(RegionId region, F&& f);

    // --- alternating trees and blossoms (alternating_trees.cpp)
    void set_slope(RegionId region, int8_t slope, Time now);
    void change_slope(RegionId region, int8_t was, int8_t slope, Time now);
    void freeze_radius(RegionId region, Time now);
    void on_collision(RegionId grower, RegionId other, const CompressedEdge& edge, Time now);
    void on_boundary(RegionId grower, const CompressedEdge& edge, Time now);
    void on_implosion(RegionId inner, Time now);
    void shatter(RegionId blossom, Time now);
    void form_blossom(RegionId a, RegionId b, const CompressedEdge& edge, Time now);
    RegionId tree_root(RegionId region) const;
    void flip_path_to_root(RegionId region);
    void pair_up(RegionId a, RegionId b, const CompressedEdge& edge);
    void dissolve_tree(RegionId root, Time now);
    void add_child(RegionId parent, RegionId child);
    void remove_child(RegionId parent, RegionId child);
    RegionId child_of_containing(RegionId blossom, NodeId event) const;
    void set_top(RegionId child, Time now, bool entering_blossom);

    // --- result (extraction.cpp)
    void extract(std::span<const NodeId> events, SparseMatching& out);
    void record(const CompressedEdge& edge, SparseMatching& out);
    void reset_shot();

    const MatchingGraph* graph_ = nullptr;

    // Per node (sized to the graph).
    std::vector<NodeId> owner_event_;   // detection event whose region reached the node, kNone if free
    std::vector<Time> distance_;        // shortest distance from owner_event_, valid while owned
    std::vector<ObsMask> obs_from_;     // observable parity of that shortest path
    std::vector<NodeId> shell_below_;   // next older node in the same region's shell
    std::vector<uint32_t> node_version_;  // even; +2 on every reschedule; older queued events are stale
    // Per detection event (indexed by node id, valid for this shot's events).
    std::vector<RegionId> event_region_;  // the event's trivial region
    std::vector<RegionId> event_top_;     // the top-level region containing it
    std::vector<Time> event_wrapped_;     // summed radii of the regions between it and its top region

    std::vector<Region> regions_;       // trivial regions first, blossoms appended
    std::vector<CycleEntry> cycles_;    // blossom children, in cycle order
    std::vector<NodeId> touched_;       // nodes owned at some point this shot, to reset
    std::vector<RegionId> walk_;        // scratch stack for region walks
    std::vector<RegionId> path_a_;      // scratch: tree path from one side of a blossom
    std::vector<RegionId> path_b_;      // scratch: tree path from the other side
    std::vector<std::pair<RegionId, CompressedEdge>> expand_;  // scratch for blossom expansion
    std::vector<RegionId> reparent_;  // scratch: tree children moving to a new blossom
    std::vector<RegionId> speeding_up_;  // scratch: blossom children that were not growing before it formed
    RadixQueue<QueuedEvent> queue_;
    uint32_t mark_stamp_ = 0;
};

// Walks keep their stack in walk_ above a base mark, so a walk may start
// another inside its callback.
template <class F>
void SparseEngine::for_each_event_in(RegionId region, F&& f) {
    const size_t base = walk_.size();
    walk_.push_back(region);
    while (walk_.size() > base) {
        const RegionId r = walk_.back();
        walk_.pop_back();
        const Region& reg = regions_[r];
        if (reg.event != kNone) {
            f(reg.event);
            continue;
        }
        for (uint32_t i = 0; i < reg.cycle_size; ++i) walk_.push_back(cycles_[reg.cycle_begin + i].child);
    }
}

template <class F>
void SparseEngine::for_each_node_in(RegionId region, F&& f) {
    const size_t base = walk_.size();
    walk_.push_back(region);
    while (walk_.size() > base) {
        const RegionId r = walk_.back();
        walk_.pop_back();
        for (NodeId x = regions_[r].shell_top; x != kNone; x = shell_below_[x]) f(x);
        const Region& reg = regions_[r];
        for (uint32_t i = 0; i < reg.cycle_size; ++i) walk_.push_back(cycles_[reg.cycle_begin + i].child);
    }
}


}  // namespace vornex::sparse
