// Reads detector-error-model text into a flattened model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/result.h"
#include "dem/dem_model.h"

namespace vornex {

// Bounds that keep a small text from unrolling into more memory than the
// machine has: a few nested repeat blocks can describe 10^18 instructions.
struct DemReaderLimits {
    // Instructions, arguments and targets after unrolling (a distance-25, 25-round
    // surface-code model needs about two million).
    uint64_t max_unrolled = uint64_t{1} << 27;
    // Decoders keep per-detector arrays; an id far beyond the detectors in use
    // would size them by the id.
    uint32_t max_detectors = uint32_t{1} << 26;
    uint32_t max_observables = uint32_t{1} << 20;
};

// Parses and flattens model text. Errors read "line N: what is wrong".
Result<DetectorErrorModel> read_detector_error_model(std::string_view text, const DemReaderLimits& limits = {});

}  // namespace vornex
