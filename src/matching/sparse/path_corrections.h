// A row of detection events matched and turned into edge flips: the engine
// pairs the fired nodes, and a shortest path per pair flips its edges by id.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

#include "base/result.h"
#include "matching/sparse/matching_graph.h"
#include "matching/sparse/sparse_engine.h"

namespace vornex::sparse {

// `scratch` provides engine (SparseEngine), paths (PathSearch), matching
// (SparseMatching), events (vector<NodeId>) and edge_ids (vector<uint32_t>).
// A node fires when bit 0 of its byte is set; `flips` holds one byte per
// edge id. Fails as the engine does, leaving `flips` untouched.
template <class Scratch>
Status correct_along_paths(const MatchingGraph& graph, std::span<const uint8_t> syndrome, std::span<uint8_t> flips,
                           Scratch& scratch) {
    scratch.events.clear();
    for (size_t i = 0; i < syndrome.size(); ++i)
        if (syndrome[i] & 1) scratch.events.push_back(static_cast<NodeId>(i));
    if (auto status = scratch.engine.match(graph, scratch.events, scratch.matching); !status) return status;
    std::fill(flips.begin(), flips.end(), uint8_t{0});
    for (const MatchedPair& p : scratch.matching.pairs) {
        scratch.edge_ids.clear();
        scratch.paths.append_path(graph, p.from, p.to, scratch.edge_ids);
        for (const uint32_t e : scratch.edge_ids) flips[e] ^= 1;
    }
    return ok_status();
}

}  // namespace vornex::sparse
