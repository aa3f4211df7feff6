// Weighted cluster growth driven by fill events: the same synchronous growth
// as grow_clusters (cluster_growth.h), tick for tick, at a cost that follows
// the merges rather than the number of filled edges.
//
// With weights, edges rarely fill on the same tick, so growth in rounds runs
// about one round per filled edge and walks every active frontier each time.
// Here an edge's rate (its active ends) only changes when a merge changes
// some cluster's activity or brings in a new node, and while the rate holds,
// the tick at which the edge fills is fixed. So each growing edge sits in a
// bucket keyed by its fill tick; a tick pops one bucket, and only the
// clusters whose activity changed are walked again. Ticks land on exactly the
// states unit steps would reach.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <span>
#include <vector>

#include "code/check_graph.h"
#include "uf/cluster_growth.h"
#include "uf/cluster_set.h"

namespace vornex {

// What event growth needs beyond GrowthScratch.
struct EventScratch {
    // Fill ticks of growing edges lie at most the largest weight ahead of the
    // current tick, so a ring of buckets twice that size never wraps onto a
    // live one.
    static constexpr uint32_t kBuckets = 256;
    static constexpr uint32_t kMaxWeight = kBuckets / 2;
    static constexpr uint32_t kNever = 0xFFFFFFFFu;

    std::vector<uint32_t> stamp;        // per edge: tick its `grown` was brought up to; kNever between decodes
    std::vector<uint32_t> fill_tick;    // per edge: tick it fills at its current rate, while queued
    std::vector<uint32_t> next_queued;  // per edge: next edge of its bucket, while queued
    std::vector<uint32_t> prev_queued;  // per edge: previous edge of its bucket, kNoNode at the head
    std::array<uint32_t, kBuckets> bucket_head;  // first queued edge per fill tick mod kBuckets, kNoNode if none
    std::array<uint64_t, kBuckets / 64> occupied{};  // bit b set when bucket b holds an edge
    uint32_t n_queued = 0;              // edges in the buckets; 0 between decodes
    std::vector<uint8_t> counted;       // per node: its edges carry its growth in `rate`; 0 between decodes
    std::vector<uint8_t> mark;          // per node: flags while one tick's merges are handled; 0 otherwise
    std::vector<uint32_t> old_roots;    // roots before this tick's merges...
    std::vector<uint8_t> old_active;    // ...and whether each was active
    std::vector<uint32_t> joined;       // nodes first touched by this tick's merges

    EventScratch() { bucket_head.fill(kNoNode); }

    void reserve(size_t n_nodes, size_t n_edges);

    // Back to clean, given the edges and nodes the decode touched.
    void reset(std::span<const uint32_t> grown_edges, std::span<const uint32_t> touched_nodes);
};

namespace growth_detail {

template <class Weight>
class EventGrowth {
public:
    EventGrowth(const CheckGraph& g, Weight weight, ClusterSet& cs, GrowthScratch& gs, EventScratch& es)
        : start_(g.incidence_start.data()), incident_(g.incident_edges.data()), g_(g), weight_(weight), cs_(cs),
          gs_(gs), es_(es) {}

    void run() {
        for (uint32_t root : gs_.active) {
            es_.counted[root] = 1;
            count_node(root, +1);
        }
        gs_.active.clear();
        while (pop_tick()) merge_tick();
    }

private:
    static constexpr uint8_t kOldRoot = 1;
    static constexpr uint8_t kWalked = 2;
    static constexpr uint8_t kJoined = 4;
    static constexpr uint32_t kMask = EventScratch::kBuckets - 1;

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
        if (es_.stamp[e] == EventScratch::kNever) {
            gs_.grown_edges.push(e);
        } else if (r != 0) {
            gs_.grown[e] += (tick_ - es_.stamp[e]) * r;
            unlink(e);
        }
        es_.stamp[e] = tick_;
        r = static_cast<uint32_t>(static_cast<int>(r) + delta);
        gs_.rate[e] = static_cast<uint8_t>(r);
        if (r != 0) link(e, tick_ + static_cast<uint32_t>(ticks_to_fill(weight_(e) - gs_.grown[e], r)));
    }

    void link(uint32_t e, uint32_t fill) {
        uint32_t& head = es_.bucket_head[fill & kMask];
        es_.fill_tick[e] = fill;
        es_.next_queued[e] = head;
        es_.prev_queued[e] = kNoNode;
        if (head != kNoNode) {
            es_.prev_queued[head] = e;
        } else {
            es_.occupied[(fill & kMask) >> 6] |= uint64_t{1} << (fill & 63);
        }
        head = e;
        ++es_.n_queued;
    }

    void unlink(uint32_t e) {
        const uint32_t next = es_.next_queued[e];
        const uint32_t prev = es_.prev_queued[e];
        if (prev == kNoNode) {
            const uint32_t b = es_.fill_tick[e] & kMask;
            es_.bucket_head[b] = next;
            if (next == kNoNode) es_.occupied[b >> 6] &= ~(uint64_t{1} << (b & 63));
        } else {
            es_.next_queued[prev] = next;
        }
        if (next != kNoNode) es_.prev_queued[next] = prev;
        --es_.n_queued;
    }

    // Advances to the next tick at which edges fill and moves them to
    // newly_full; false once nothing grows.
    bool pop_tick() {
        if (es_.n_queued == 0) return false;
        const uint32_t from = (tick_ + 1) & kMask;
        const uint32_t b = next_occupied(from);
        tick_ += 1 + ((b - from) & kMask);
        for (uint32_t e = es_.bucket_head[b]; e != kNoNode; e = es_.next_queued[e]) {
            gs_.full[e] = 1;
            gs_.rate[e] = 0;
            gs_.newly_full.push(e);
            --es_.n_queued;
        }
        es_.bucket_head[b] = kNoNode;
        es_.occupied[b >> 6] &= ~(uint64_t{1} << (b & 63));
        return true;
    }

    // First occupied bucket at or after `from`, going round the ring; every
    // queued tick lies less than a ring ahead, so this is the earliest one.
    // Some bucket must be occupied.
    uint32_t next_occupied(uint32_t from) const {
        constexpr uint32_t kWords = EventScratch::kBuckets / 64;
        uint32_t w = from >> 6;
        uint64_t bits = es_.occupied[w] & (~uint64_t{0} << (from & 63));
        while (bits == 0) {
            w = (w + 1) % kWords;
            bits = es_.occupied[w];
        }
        return (w << 6) + static_cast<uint32_t>(std::countr_zero(bits));
    }

    // Merges along the filled edges, then recounts the clusters whose
    // activity changed and counts the nodes that joined an active one.
    void merge_tick() {
        for (uint32_t e : gs_.newly_full) {
            note_end(g_.edges[e].a);
            note_end(g_.edges[e].b);
        }
        growth_detail::merge_filled(g_, cs_, gs_);
        for (size_t i = 0; i < es_.old_roots.size(); ++i) {
            const uint32_t root = cs_.find(es_.old_roots[i]);
            const bool now = cs_.active(root);
            if (now == static_cast<bool>(es_.old_active[i]) || (es_.mark[root] & kWalked)) continue;
            es_.mark[root] |= kWalked;
            recount(root, now);
        }
        for (uint32_t x : es_.joined) {
            if (es_.counted[x] || !cs_.active(cs_.find(x))) continue;
            es_.counted[x] = 1;
            count_node(x, +1);
        }
        for (uint32_t r : es_.old_roots) {
            es_.mark[r] = 0;
            es_.mark[cs_.find(r)] = 0;
        }
        for (uint32_t x : es_.joined) es_.mark[x] = 0;
        es_.old_roots.clear();
        es_.old_active.clear();
        es_.joined.clear();
    }

    // Records an end of a filled edge before the merges: its cluster's root
    // and activity, or the node itself when the merge will first touch it.
    void note_end(uint32_t x) {
        if (!cs_.touched[x]) {
            if (es_.mark[x] & kJoined) return;
            es_.mark[x] |= kJoined;
            es_.joined.push_back(x);
            return;
        }
        const uint32_t root = cs_.find(x);
        if (es_.mark[root] & kOldRoot) return;
        es_.mark[root] |= kOldRoot;
        es_.old_roots.push_back(root);
        es_.old_active.push_back(cs_.active(root));
    }

    // Makes every frontier node of the cluster count as `on`, dropping the
    // nodes left without an unfilled edge.
    void recount(uint32_t root, bool on) {
        cs_.prune_frontier(root, [&](uint32_t u) {
            if (es_.counted[u] == on) return true;
            es_.counted[u] = on;
            return count_node(u, on ? +1 : -1);
        });
    }

    const uint32_t* start_;
    const uint32_t* incident_;
    const CheckGraph& g_;
    Weight weight_;
    ClusterSet& cs_;
    GrowthScratch& gs_;
    EventScratch& es_;
    uint32_t tick_ = 0;  // ticks of unit growth since the decode began
};

}  // namespace growth_detail

// grow_clusters with per-edge weights in 1 .. EventScratch::kMaxWeight: the
// same filled edges and clusters, in time that follows the merges.
template <class Weight>
void grow_clusters_by_events(const CheckGraph& g, Weight weight, ClusterSet& cs, GrowthScratch& gs,
                             EventScratch& es) {
    es.reserve(g.n_nodes, g.edges.size());
    growth_detail::EventGrowth<Weight>(g, weight, cs, gs, es).run();
    es.reset(gs.grown_edges, cs.touched_nodes);
}

}  // namespace vornex
