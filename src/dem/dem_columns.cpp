#include "dem/dem_columns.h"


namespace vornex {

DemColumns dem_columns(const DetectorErrorModel& dem) {
    DemColumns out;
    out.detector_columns.resize(dem.num_detectors);
    std::vector<uint32_t> ids, observable_begin{0}, observables;
    for (size_t j = 0; j < dem.num_errors(); ++j) {
        column_detectors(dem, j, ids);
        for (uint32_t d : ids) out.detector_columns[d].push_back(static_cast<uint32_t>(j));
        column_observables(dem, j, ids);
        observables.insert(observables.end(), ids.begin(), ids.end());
        observable_begin.push_back(static_cast<uint32_t>(observables.size()));
    }
    out.probability = dem.probability;
    out.observables = std::make_shared<const ModelObservables>(
        ModelObservables{static_cast<uint32_t>(dem.num_detectors),
                         ObservableMap(dem.num_observables, observable_begin, observables)});
    return out;
}

}  // namespace vornex
