// The narrow interface between belief-matching and a matching engine: a fixed
// edge set, weights given per call, edge flips out. Another exact engine
// slots in beside the sparse one without touching belief-matching.
#pragma once

#include <cstdint>
#include <span>

#include "base/result.h"

namespace vornex {

class EdgeMatcher {
public:
    virtual ~EdgeMatcher() = default;
    // Fills edge_flips (one byte per edge) with a minimum-weight matching of
    // the fired detectors (bit 0 of each syndrome byte) under `weights`, one
    // per edge; empty `weights` means the weights the matcher was built with.
    // Fails with the engine's text when no matching exists.
    virtual Status match(std::span<const uint8_t> syndrome, std::span<const double> weights,
                         std::span<uint8_t> edge_flips) const = 0;
};

}  // namespace vornex
