// Synchronous cluster growth on the check graph (Delfosse-Nickerson growth
// with integer edge weights, as in the weighted Union-Find decoders of Huang,
// Newman and Brown). Every active cluster adds one unit per tick to each
// unfilled edge at its frontier, so an edge between two active ends gains
// two; the edges that reach their weight on the same tick fill together, and
// then the clusters they join merge.
//
// The growth is driven by events rather than rounds. An edge's rate (its
// active ends) only changes when a merge changes some cluster's activity or
// brings in a new node, and while the rate holds, the tick at which the edge
// fills is fixed. So each growing edge sits in a bucket keyed by its fill
// tick; a tick pops one bucket, and only the clusters whose activity changed
// are walked again. Ticks land on exactly the states unit steps would reach,
// so with every weight 2 (two half-steps per edge) this is the growth of the
// defined Union-Find core, and with weights it costs what the merges cost,
// not a walk of every frontier per filled edge.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "code/check_graph.h"
#include "uf/cluster_set.h"

namespace vornex {

struct GrowthScratch {
    // Fill ticks of growing edges lie at most the largest weight ahead of the
    // current tick, so a ring of buckets twice that size never wraps onto a
    // live one.
    static constexpr uint32_t kBuckets = 256;
    static constexpr uint32_t kMaxWeight = kBuckets / 2;
    static constexpr uint32_t kNever = 0xFFFFFFFFu;

    std::vector<uint32_t> grown;          // per edge: units grown as of `stamp`; 0 between decodes
    std::vector<uint32_t> stamp;          // per edge: tick `grown` was brought up to; kNever if untouched
    std::vector<uint32_t> fill_tick;      // per edge: tick it fills at its current rate, when rate > 0
    std::vector<uint8_t> rate;            // per edge: counted ends growing it (a self-loop twice); 0 between decodes
    std::vector<uint8_t> full;            // per edge: 1 once grown reached the weight; 0 between decodes
    std::vector<uint32_t> next_queued;    // per edge: next edge of its bucket, while queued
    std::vector<uint32_t> prev_queued;    // per edge: previous edge of its bucket, kNoNode at the head
    std::array<uint32_t, kBuckets> bucket_head;  // first queued edge per fill tick mod kBuckets, kNoNode if none
    uint32_t n_queued = 0;                // edges in the buckets; 0 between decodes
    std::vector<uint32_t> grown_edges;    // edges with stamp set, to reset them at the end
    std::vector<uint32_t> newly_full;     // edges that filled on the current tick
    std::vector<uint32_t> boundary_full;  // every full edge to the boundary node
    std::vector<uint32_t> active;         // input: the roots that start growing (the defects)
    std::vector<uint8_t> counted;         // per node: its edges carry its growth in `rate`; 0 between decodes
    std::vector<uint8_t> mark;            // per node: kOldRoot / kWalked while a tick is merged; 0 otherwise
    std::vector<uint32_t> old_roots;      // roots before this tick's merges, with their activity
    std::vector<uint8_t> old_active;      //   (parallel to old_roots)
    std::vector<uint32_t> joined;         // nodes first touched by this tick's merges

    GrowthScratch() { bucket_head.fill(kNoNode); }

    // Grows every array to the graph's size; new entries are clean.
    void reserve(size_t n_nodes, size_t n_edges);

    // Back to clean, in time proportional to what the decode touched.
    void reset(std::span<const uint32_t> touched_nodes);
};

// Every edge weighs two half-steps: the defined unweighted core.
struct HalfStepWeights {
    uint32_t operator()(uint32_t) const { return 2; }
};

// Per-edge integer weights, each in 1 .. GrowthScratch::kMaxWeight.
struct EdgeWeights {
    const uint32_t* weight;
    uint32_t operator()(uint32_t e) const { return weight[e]; }
};

// Grows from the roots in gs.active (the singleton defects, touched, parity
// set) until no cluster is active or none can grow. Afterwards gs.full marks
// the filled edges, which are exactly the edges the clusters were united by,
// and gs.boundary_full lists the filled boundary edges.
template <class Weight>
void grow_clusters(const CheckGraph& g, Weight weight, ClusterSet& cs, GrowthScratch& gs);

namespace growth_detail {

// Ticks for `remaining` units at `rate` units a tick, rounded up. The rate is
// almost always 1 or 2 (an edge has two ends), and a division here would
// cost more than the rest of an update.
inline uint32_t ticks_to_fill(uint32_t remaining, uint32_t rate) {
    if (rate == 1) return remaining;
    if (rate == 2) return (remaining + 1) >> 1;
    return (remaining + rate - 1) / rate;
}

void merge_filled(const CheckGraph& g, ClusterSet& cs, GrowthScratch& gs);

template <class Weight>
class TickGrowth {
public:
    TickGrowth(const CheckGraph& g, Weight weight, ClusterSet& cs, GrowthScratch& gs)
        : start_(g.incidence_start.data()), incident_(g.incident_edges.data()), g_(g), weight_(weight), cs_(cs),
          gs_(gs) {}

    void run() {
        for (uint32_t root : gs_.active) {
            gs_.counted[root] = 1;
            count_node(root, +1);
        }
        gs_.active.clear();
        while (pop_tick()) merge_tick();
    }

private:
    static constexpr uint8_t kOldRoot = 1;
    static constexpr uint8_t kWalked = 2;
    static constexpr uint8_t kJoined = 4;
    static constexpr uint32_t kMask = GrowthScratch::kBuckets - 1;

    // Adds `delta` to the rate of every unfilled edge of `u`; false when it
    // has none left (the node can leave its frontier).
    bool count_node(uint32_t u, int delta) {
        bool open = false;
        for (uint32_t k = start_[u]; k < start_[u + 1]; ++k) {
            const uint32_t e = incident_[k];
            if (gs_.full[e]) continue;
            open = true;
            change_rate(e, delta);
        }
        return open;
    }

    // Brings the edge's growth up to now, then requeues it at the fill tick
    // of its new rate.
    void change_rate(uint32_t e, int delta) {
        uint32_t r = gs_.rate[e];
        if (gs_.stamp[e] == GrowthScratch::kNever) {
            gs_.grown_edges.push_back(e);
        } else if (r != 0) {
            gs_.grown[e] += (tick_ - gs_.stamp[e]) * r;
            unlink(e);
        }
        gs_.stamp[e] = tick_;
        r = static_cast<uint32_t>(static_cast<int>(r) + delta);
        gs_.rate[e] = static_cast<uint8_t>(r);
        if (r != 0) link(e, tick_ + ticks_to_fill(weight_(e) - gs_.grown[e], r));
    }

    void link(uint32_t e, uint32_t fill) {
        uint32_t& head = gs_.bucket_head[fill & kMask];
        gs_.fill_tick[e] = fill;
        gs_.next_queued[e] = head;
        gs_.prev_queued[e] = kNoNode;
        if (head != kNoNode) gs_.prev_queued[head] = e;
        head = e;
        ++gs_.n_queued;
    }

    void unlink(uint32_t e) {
        const uint32_t next = gs_.next_queued[e];
        const uint32_t prev = gs_.prev_queued[e];
        if (prev == kNoNode) {
            gs_.bucket_head[gs_.fill_tick[e] & kMask] = next;
        } else {
            gs_.next_queued[prev] = next;
        }
        if (next != kNoNode) gs_.prev_queued[next] = prev;
        --gs_.n_queued;
    }

    // Advances to the next tick at which edges fill and moves them to
    // newly_full; false once nothing grows.
    bool pop_tick() {
        while (gs_.n_queued != 0) {
            ++tick_;
            uint32_t& head = gs_.bucket_head[tick_ & kMask];
            if (head == kNoNode) continue;
            for (uint32_t e = head; e != kNoNode; e = gs_.next_queued[e]) {
                gs_.full[e] = 1;
                gs_.newly_full.push_back(e);
                --gs_.n_queued;
            }
            head = kNoNode;
            return true;
        }
        return false;
    }

    // Merges along the filled edges, then recounts the clusters whose
    // activity changed and counts the nodes that joined an active one.
    void merge_tick() {
        for (uint32_t e : gs_.newly_full) {
            note_end(g_.edges[e].a);
            note_end(g_.edges[e].b);
        }
        merge_filled(g_, cs_, gs_);
        for (size_t i = 0; i < gs_.old_roots.size(); ++i) {
            const uint32_t root = cs_.find(gs_.old_roots[i]);
            const bool now = cs_.active(root);
            if (now == static_cast<bool>(gs_.old_active[i]) || (gs_.mark[root] & kWalked)) continue;
            gs_.mark[root] |= kWalked;
            recount(root, now);
        }
        for (uint32_t x : gs_.joined) {
            if (gs_.counted[x] || !cs_.active(cs_.find(x))) continue;
            gs_.counted[x] = 1;
            count_node(x, +1);
        }
        for (uint32_t r : gs_.old_roots) {
            gs_.mark[r] = 0;
            gs_.mark[cs_.find(r)] = 0;
        }
        for (uint32_t x : gs_.joined) gs_.mark[x] = 0;
        gs_.old_roots.clear();
        gs_.old_active.clear();
        gs_.joined.clear();
    }

    // Records an end of a filled edge before the merges: its cluster's root
    // and activity, or the node itself when the merge will first touch it.
    void note_end(uint32_t x) {
        if (!cs_.touched[x]) {
            if (gs_.mark[x] & kJoined) return;
            gs_.mark[x] |= kJoined;
            gs_.joined.push_back(x);
            return;
        }
        const uint32_t root = cs_.find(x);
        if (gs_.mark[root] & kOldRoot) return;
        gs_.mark[root] |= kOldRoot;
        gs_.old_roots.push_back(root);
        gs_.old_active.push_back(cs_.active(root));
    }

    // Makes every frontier node of the cluster count as `on`, dropping the
    // nodes left without an unfilled edge.
    void recount(uint32_t root, bool on) {
        uint32_t prev = kNoNode;
        for (uint32_t u = cs_.frontier_head[root]; u != kNoNode;) {
            const uint32_t next = cs_.frontier_next[u];
            bool open = true;
            if (gs_.counted[u] != on) {
                gs_.counted[u] = on;
                open = count_node(u, on ? +1 : -1);
            }
            if (open) {
                prev = u;
            } else if (prev == kNoNode) {
                cs_.frontier_head[root] = next;
            } else {
                cs_.frontier_next[prev] = next;
            }
            if (!open && cs_.frontier_tail[root] == u) cs_.frontier_tail[root] = prev;
            u = next;
        }
    }

    const uint32_t* start_;
    const uint32_t* incident_;
    const CheckGraph& g_;
    Weight weight_;
    ClusterSet& cs_;
    GrowthScratch& gs_;
    uint32_t tick_ = 0;  // ticks of unit growth since the decode began
};

}  // namespace growth_detail

template <class Weight>
void grow_clusters(const CheckGraph& g, Weight weight, ClusterSet& cs, GrowthScratch& gs) {
    growth_detail::TickGrowth<Weight>(g, weight, cs, gs).run();
}

}  // namespace vornex
