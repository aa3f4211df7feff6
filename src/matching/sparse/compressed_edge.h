// A shortest path between two detection events (or one event and the
// boundary), kept only by its ends, its observable parity and its length.
//
// The engine never stores the nodes in between: matching needs only the ends
// and predictions only the parity; corrections recover the path afterwards
// by a local search.
#pragma once

#include "matching/sparse/sparse_types.h"

namespace vornex::sparse {

struct CompressedEdge {
    NodeId from = kNone;  // a detection event inside the region that holds the edge
    NodeId to = kNone;    // a detection event on the other side, or kBoundary
    ObsMask observables = 0;
    Time length = 0;  // in engine units (twice the caller's weights)

    CompressedEdge reversed() const { return {to, from, observables, length}; }
    // This path followed by `next`, which must start where this one ends.
    CompressedEdge then(const CompressedEdge& next) const {
        return {from, next.to, observables ^ next.observables, length + next.length};
    }
};

}  // namespace vornex::sparse
