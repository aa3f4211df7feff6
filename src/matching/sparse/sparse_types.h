// Integer types shared by the sparse matching engine.
//
// Ids are 32-bit indices into flat arrays. Times, radii and distances share
// one unit: twice the caller's integer edge weight, so that two regions
// growing towards each other always meet at an integer time (see
// matching_graph.h for the argument).
#pragma once

#include <cstdint>

namespace vornex::sparse {

using NodeId = uint32_t;
using RegionId = uint32_t;
using Time = int64_t;
using ObsMask = uint64_t;

// "No node / no region" marker.
inline constexpr uint32_t kNone = 0xFFFFFFFFu;
// The boundary as the far end of a half-edge or as a region's partner.
inline constexpr uint32_t kBoundary = 0xFFFFFFFEu;

inline constexpr Time kNever = INT64_MAX;

}  // namespace vornex::sparse
