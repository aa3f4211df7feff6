// Entry point of the exact sparse matching engine, with one reusable engine
// per thread.
#pragma once

#include <span>

#include "base/result.h"
#include "matching/sparse/matching_graph.h"
#include "matching/sparse/sparse_engine.h"

namespace vornex::sparse {

// Minimum-weight perfect matching of `events` (distinct detector ids) on
// `graph`, using the calling thread's engine; `out` is overwritten.
Status sparse_match(const MatchingGraph& graph, std::span<const NodeId> events, SparseMatching& out);

}  // namespace vornex::sparse
