// The hypergraph view of a detector error model, for decoders that take any
// column (BP and its post-processors): one check per detector, one column
// per error mechanism with its probability, however many detectors it flips.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "code/check_graph.h"
#include "dem/dem_code.h"

namespace vornex {

struct DemColumns {
    CheckList detector_columns;       // per detector: the columns flipping it, ascending
    std::vector<double> probability;  // per column
    std::shared_ptr<const ModelObservables> observables;  // the detectors, and the observables of each column

    size_t n_columns() const { return probability.size(); }
};

// Reads the model text; fails with the reader's error.
Result<DemColumns> dem_columns_from_text(std::string_view model_text);

}  // namespace vornex
