#include "uf/event_growth.h"

#include "base/grow.h"

namespace vornex {

void EventScratch::reserve(size_t n_nodes, size_t n_edges) {
    grow_filled(n_edges, kNever, stamp);
    grow_to(n_edges, fill_tick, next_queued, prev_queued);
    if (counted.size() < n_nodes) {
        grow_to(n_nodes, counted, mark);
        old_roots.reserve(n_nodes);
        old_active.reserve(n_nodes);
        joined.reserve(n_nodes);
    }
}

void EventScratch::reset(std::span<const uint32_t> grown_edges, std::span<const uint32_t> touched_nodes) {
    if (stamp.empty()) return;
    for (uint32_t e : grown_edges) stamp[e] = kNever;
    for (uint32_t v : touched_nodes) counted[v] = 0;
}

}  // namespace vornex
