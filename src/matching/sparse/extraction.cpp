// Reading the matching out of the final regions: top-level pairs first, then
// every blossom opened around the child its outside edge enters, the rest of
// its odd cycle pairing up along the cycle.
#include "matching/sparse/sparse_engine.h"

namespace vornex::sparse {

void SparseEngine::record(const CompressedEdge& edge, SparseMatching& out) {
    const int64_t weight = edge.length / 2;
    out.pairs.push_back({edge.from, edge.to, edge.observables, weight});
    out.observables ^= edge.observables;
    out.weight += weight;
}

void SparseEngine::extract(std::span<const NodeId> events, SparseMatching& out) {
    expand_.clear();
    const uint32_t seen = ++mark_stamp_;
    for (const NodeId e : events) {
        const RegionId r = event_top_[e];
        if (regions_[r].mark == seen) continue;
        regions_[r].mark = seen;
        const RegionId partner = regions_[r].match;
        const CompressedEdge edge = regions_[r].match_edge;
        if (partner == kBoundary) {
            record(edge, out);
            expand_.push_back({r, edge});
        } else if (partner != kNone && regions_[partner].mark != seen) {
            regions_[partner].mark = seen;
            record(edge, out);
            expand_.push_back({r, edge});
            expand_.push_back({partner, edge.reversed()});
        }
    }
    while (!expand_.empty()) {
        const auto [region, edge] = expand_.back();
        expand_.pop_back();
        const Region& b = regions_[region];
        if (b.event != kNone) continue;
        const uint32_t k = b.cycle_size;
        const uint32_t begin = b.cycle_begin;
        const RegionId entered = child_of_containing(region, edge.from);
        uint32_t at = 0;
        while (cycles_[begin + at].child != entered) ++at;
        expand_.push_back({entered, edge});
        for (uint32_t j = 1; j < k; j += 2) {
            const CycleEntry& x = cycles_[begin + (at + j) % k];
            const RegionId y = cycles_[begin + (at + j + 1) % k].child;
            record(x.to_next, out);
            expand_.push_back({x.child, x.to_next});
            expand_.push_back({y, x.to_next.reversed()});
        }
    }
}

}  // namespace vornex::sparse
