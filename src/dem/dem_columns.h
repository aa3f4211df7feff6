// The hypergraph view of a detector error model, for decoders that take any
// column (BP and its post-processors): one check per detector, one column
// per error mechanism with its probability, however many detectors it flips.
#pragma once

#include <memory>
#include <vector>

#include "code/check_graph.h"
#include "dem/dem_code.h"
#include "dem/dem_model.h"

namespace vornex {

struct DemColumns {
    CheckList detector_columns;       // per detector: the columns flipping it, ascending
    std::vector<double> probability;  // per column
    std::shared_ptr<const ModelObservables> observables;  // the detectors, and the observables of each column

    size_t n_columns() const { return probability.size(); }
};

DemColumns dem_columns(const DetectorErrorModel& model);

}  // namespace vornex
