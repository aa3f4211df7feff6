#include "uf/event_growth.h"

namespace vornex {

void EventScratch::reserve(size_t n_nodes, size_t n_edges) {
    if (stamp.size() < n_edges) {
        stamp.resize(n_edges, kNever);
        fill_tick.resize(n_edges);
        next_queued.resize(n_edges);
        prev_queued.resize(n_edges);
    }
    if (counted.size() < n_nodes) {
        counted.resize(n_nodes, 0);
        mark.resize(n_nodes, 0);
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
