#include "matching/sparse/sparse_matching.h"

#include "base/thread_scratch.h"

namespace vornex::sparse {

Status sparse_match(const MatchingGraph& graph, std::span<const NodeId> events, SparseMatching& out) {
    ScratchLease<SparseEngine> lease;
    return lease.get().match(graph, events, out);
}

}  // namespace vornex::sparse
