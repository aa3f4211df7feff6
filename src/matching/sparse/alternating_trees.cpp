// Alternating trees, blossoms and augmentation: the matching half of the
// primal-dual blossom algorithm, driven by the flooder's collisions.
#include <utility>

#include "matching/sparse/sparse_engine.h"

namespace vornex::sparse {

void SparseEngine::set_slope(RegionId region, int8_t slope, Time now) {
    change_slope(region, regions_[region].slope, slope, now);
}

// Only a faster region has to look at its edges again. Every queued look is
// at or before the moment its edge needs attention, and a look that comes
// early finds nothing due and reschedules; slowing a region only delays the
// moments its own nodes and its neighbours' nodes already wait for, so their
// queued looks stay early and valid. Speeding up brings moments forward, and
// the region's own nodes see every edge that can be affected.
void SparseEngine::change_slope(RegionId region, int8_t was, int8_t slope, Time now) {
    freeze_radius(region, now);
    regions_[region].slope = slope;
    if (slope > was) schedule_region_nodes(region, now);
    if (slope == -1) schedule_shrink(region, now);
}

// Stops the radius without looking at the nodes, for a region entering a
// blossom whose own growth reschedules them all.
void SparseEngine::freeze_radius(RegionId region, Time now) {
    Region& r = regions_[region];
    r.radius0 = r.radius(now);
    r.time0 = now;
    r.slope = 0;
    ++r.version;
}

// Matches a and b along `edge`, which runs from a to b.
void SparseEngine::pair_up(RegionId a, RegionId b, const CompressedEdge& edge) {
    regions_[a].match = b;
    regions_[a].match_edge = edge;
    regions_[b].match = a;
    regions_[b].match_edge = edge.reversed();
}

RegionId SparseEngine::tree_root(RegionId region) const {
    while (regions_[region].tree_parent != kNone) region = regions_[region].tree_parent;
    return region;
}

void SparseEngine::add_child(RegionId parent, RegionId child) {
    Region& c = regions_[child];
    Region& p = regions_[parent];
    c.tree_parent = parent;
    c.prev_sibling = kNone;
    c.next_sibling = p.first_child;
    if (p.first_child != kNone) regions_[p.first_child].prev_sibling = child;
    p.first_child = child;
}

void SparseEngine::remove_child(RegionId parent, RegionId child) {
    Region& c = regions_[child];
    if (c.prev_sibling != kNone) {
        regions_[c.prev_sibling].next_sibling = c.next_sibling;
    } else {
        regions_[parent].first_child = c.next_sibling;
    }
    if (c.next_sibling != kNone) regions_[c.next_sibling].prev_sibling = c.prev_sibling;
    c.tree_parent = c.next_sibling = c.prev_sibling = kNone;
}

RegionId SparseEngine::child_of_containing(RegionId blossom, NodeId event) const {
    RegionId r = event_region_[event];
    while (regions_[r].blossom_parent != blossom) r = regions_[r].blossom_parent;
    return r;
}

// Matches every inner region on the path to the root with its parent, so
// that `region` itself is left free for its new partner.
void SparseEngine::flip_path_to_root(RegionId region) {
    RegionId cur = region;
    while (regions_[cur].tree_parent != kNone) {
        const RegionId inner = regions_[cur].tree_parent;
        const RegionId outer = regions_[inner].tree_parent;
        const CompressedEdge up = regions_[inner].parent_edge;
        pair_up(inner, outer, up);
        cur = outer;
    }
}

void SparseEngine::dissolve_tree(RegionId root, Time now) {
    const size_t base = walk_.size();
    walk_.push_back(root);
    while (walk_.size() > base) {
        const RegionId r = walk_.back();
        walk_.pop_back();
        for (RegionId c = regions_[r].first_child; c != kNone; c = regions_[c].next_sibling) walk_.push_back(c);
        Region& reg = regions_[r];
        reg.tree_parent = reg.first_child = reg.next_sibling = reg.prev_sibling = kNone;
        reg.role = TreeRole::None;
        set_slope(r, 0, now);
    }
}

void SparseEngine::on_boundary(RegionId grower, const CompressedEdge& edge, Time now) {
    const RegionId root = tree_root(grower);
    flip_path_to_root(grower);
    regions_[grower].match = kBoundary;
    regions_[grower].match_edge = edge;
    dissolve_tree(root, now);
}

void SparseEngine::on_collision(RegionId grower, RegionId other, const CompressedEdge& edge, Time now) {
    const Region& o = regions_[other];
    if (o.role == TreeRole::Outer) {
        const RegionId root_a = tree_root(grower);
        const RegionId root_b = tree_root(other);
        if (root_a == root_b) return form_blossom(grower, other, edge, now);
        flip_path_to_root(grower);
        flip_path_to_root(other);
        pair_up(grower, other, edge);
        dissolve_tree(root_a, now);
        dissolve_tree(root_b, now);
        return;
    }
    if (o.role == TreeRole::Inner || o.match == kNone) return;  // a shrinking region is never hit
    if (o.match == kBoundary) {
        // The boundary gives up `other`; the tree's root gains a partner.
        const RegionId root = tree_root(grower);
        flip_path_to_root(grower);
        pair_up(grower, other, edge);
        dissolve_tree(root, now);
        return;
    }
    // A matched pair joins the tree: `other` inner, its partner outer.
    const RegionId mate = o.match;
    add_child(grower, other);
    regions_[other].role = TreeRole::Inner;
    regions_[other].parent_edge = edge.reversed();
    add_child(other, mate);
    regions_[mate].role = TreeRole::Outer;
    regions_[mate].parent_edge = regions_[mate].match_edge;
    set_slope(other, -1, now);
    set_slope(mate, 1, now);
}

// A shrinking event region reached radius 0: its tree parent and child now
// touch through its node, closing an odd cycle of three.
void SparseEngine::on_implosion(RegionId inner, Time now) {
    const RegionId parent = regions_[inner].tree_parent;
    const RegionId child = regions_[inner].first_child;
    const CompressedEdge through = regions_[child].parent_edge.then(regions_[inner].parent_edge);
    form_blossom(child, parent, through, now);
}

void SparseEngine::set_top(RegionId child, Time now, bool entering_blossom) {
    const Time r = regions_[child].radius(now);
    const RegionId top = entering_blossom ? regions_[child].blossom_parent : child;
    const Time delta = entering_blossom ? r : -r;
    for_each_event_in(child, [&](NodeId e) {
        event_wrapped_[e] += delta;
        event_top_[e] = top;
    });
}

void SparseEngine::form_blossom(RegionId a, RegionId b, const CompressedEdge& edge, Time now) {
    // Lowest common ancestor: mark a's ancestors, climb from b to a mark.
    const uint32_t stamp = ++mark_stamp_;
    path_a_.clear();
    for (RegionId x = a; x != kNone; x = regions_[x].tree_parent) {
        path_a_.push_back(x);
        regions_[x].mark = stamp;
    }
    path_b_.clear();
    RegionId lca = b;
    while (regions_[lca].mark != stamp) {
        path_b_.push_back(lca);
        lca = regions_[lca].tree_parent;
    }
    while (path_a_.back() != lca) path_a_.pop_back();

    // Cycle: lca down to a, across the new edge to b, up to lca's child.
    const RegionId blossom = static_cast<RegionId>(regions_.size());
    const auto cycle_begin = static_cast<uint32_t>(cycles_.size());
    for (size_t i = path_a_.size(); i-- > 1;) {
        cycles_.push_back({path_a_[i], regions_[path_a_[i - 1]].parent_edge.reversed()});
    }
    cycles_.push_back({a, edge});
    for (const RegionId x : path_b_) cycles_.push_back({x, regions_[x].parent_edge});

    Region nb;
    nb.role = TreeRole::Outer;
    nb.radius0 = 0;
    nb.time0 = now;
    nb.cycle_begin = cycle_begin;
    nb.cycle_size = static_cast<uint32_t>(cycles_.size() - cycle_begin);
    nb.parent_edge = regions_[lca].parent_edge;
    nb.match = regions_[lca].match;
    nb.match_edge = regions_[lca].match_edge;
    regions_.push_back(nb);

    const RegionId above = regions_[lca].tree_parent;
    if (above != kNone) {
        remove_child(above, lca);
        add_child(above, blossom);
        regions_[above].match = blossom;
    }
    // Tree children hanging off the cycle move to the blossom.
    const uint32_t member = ++mark_stamp_;
    for (uint32_t i = 0; i < nb.cycle_size; ++i) regions_[cycles_[cycle_begin + i].child].mark = member;
    reparent_.clear();
    for (uint32_t i = 0; i < nb.cycle_size; ++i) {
        for (RegionId c = regions_[cycles_[cycle_begin + i].child].first_child; c != kNone; c = regions_[c].next_sibling) {
            if (regions_[c].mark != member) reparent_.push_back(c);
        }
    }
    speeding_up_.clear();
    for (uint32_t i = 0; i < nb.cycle_size; ++i) {
        const RegionId c = cycles_[cycle_begin + i].child;
        Region& reg = regions_[c];
        reg.tree_parent = reg.first_child = reg.next_sibling = reg.prev_sibling = kNone;
        reg.role = TreeRole::None;
        reg.match = kNone;
        reg.blossom_parent = blossom;
        // An inner child speeds up from shrinking to growing; an outer one
        // keeps its speed and its nodes' queued looks.
        if (reg.slope != 1) speeding_up_.push_back(c);
        freeze_radius(c, now);
        set_top(c, now, true);
    }
    for (const RegionId c : reparent_) add_child(blossom, c);
    regions_[blossom].slope = 1;
    ++regions_[blossom].version;
    for (const RegionId c : speeding_up_) schedule_region_nodes(c, now);
}

// An inner blossom spent its radius: its children become top-level again.
// The even side of the cycle between the tree edges stays in the tree as
// alternating inner/outer regions; the odd side pairs up and leaves it.
void SparseEngine::shatter(RegionId blossom, Time now) {
    const RegionId parent = regions_[blossom].tree_parent;
    const RegionId child = regions_[blossom].first_child;
    const CompressedEdge in_edge = regions_[blossom].parent_edge;
    const CompressedEdge out_edge = regions_[child].parent_edge;
    const uint32_t begin = regions_[blossom].cycle_begin;
    const uint32_t k = regions_[blossom].cycle_size;
    const RegionId c_in = child_of_containing(blossom, in_edge.from);
    const RegionId c_out = child_of_containing(blossom, out_edge.to);
    uint32_t i_in = 0, i_out = 0;
    for (uint32_t i = 0; i < k; ++i) {
        if (cycles_[begin + i].child == c_in) i_in = i;
        if (cycles_[begin + i].child == c_out) i_out = i;
    }
    const uint32_t forward = (i_out + k - i_in) % k;
    const bool go_forward = forward % 2 == 0;
    const uint32_t path_len = go_forward ? forward : k - forward;
    const auto at = [&](uint32_t start, uint32_t steps) {
        return go_forward ? (start + steps) % k : (start + k - steps % k) % k;
    };
    // Edge from the cycle child at index i to its neighbour one step along.
    const auto step_edge = [&](uint32_t i) {
        if (go_forward) return cycles_[begin + i].to_next;
        return cycles_[begin + (i + k - 1) % k].to_next.reversed();
    };

    remove_child(parent, blossom);
    remove_child(blossom, child);
    for (uint32_t i = 0; i < k; ++i) {
        const RegionId c = cycles_[begin + i].child;
        set_top(c, now, false);
        regions_[c].blossom_parent = kNone;
    }
    Region& dead = regions_[blossom];
    dead.role = TreeRole::None;
    dead.first_child = kNone;
    dead.slope = 0;
    ++dead.version;

    RegionId prev = parent;
    CompressedEdge up = in_edge;
    for (uint32_t j = 0; j <= path_len; ++j) {
        const uint32_t i = at(i_in, j);
        const RegionId c = cycles_[begin + i].child;
        add_child(prev, c);
        regions_[c].parent_edge = up;
        regions_[c].role = (j % 2 == 0) ? TreeRole::Inner : TreeRole::Outer;
        if (j % 2 == 0) {
            const CompressedEdge down = j < path_len ? step_edge(i) : out_edge.reversed();
            const RegionId mate = j < path_len ? cycles_[begin + at(i_in, j + 1)].child : child;
            pair_up(c, mate, down);
        }
        if (j < path_len) up = step_edge(i).reversed();
        prev = c;
    }
    add_child(prev, child);
    for (uint32_t j = 1; j < k - path_len; j += 2) {
        const uint32_t i = at(i_out, j);
        const RegionId x = cycles_[begin + i].child;
        const RegionId y = cycles_[begin + at(i_out, j + 1)].child;
        const CompressedEdge e = step_edge(i);
        pair_up(x, y, e);
        regions_[x].role = regions_[y].role = TreeRole::None;
        change_slope(x, -1, 0, now);
        change_slope(y, -1, 0, now);
    }
    // The children's nodes moved with the blossom, shrinking.
    for (uint32_t j = 0; j <= path_len; ++j) {
        const RegionId c = cycles_[begin + at(i_in, j)].child;
        change_slope(c, -1, j % 2 == 0 ? -1 : 1, now);
    }
}

}  // namespace vornex::sparse
