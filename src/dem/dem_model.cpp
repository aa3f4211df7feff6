#include "dem/dem_model.h"

#include <algorithm>

namespace vornex {

void keep_odd_occurrences(std::vector<uint32_t>& ids) {
    std::sort(ids.begin(), ids.end());
    size_t kept = 0;
    for (size_t i = 0; i < ids.size();) {
        size_t j = i;
        while (j < ids.size() && ids[j] == ids[i]) ++j;
        if ((j - i) % 2) ids[kept++] = ids[i];
        i = j;
    }
    ids.resize(kept);
}

void column_detectors(const DetectorErrorModel& model, size_t column, std::vector<uint32_t>& out) {
    out.clear();
    for (uint32_t t : model.targets_of(column))
        if (is_detector_target(t)) out.push_back(t);
    keep_odd_occurrences(out);
}

void column_observables(const DetectorErrorModel& model, size_t column, std::vector<uint32_t>& out) {
    out.clear();
    for (uint32_t t : model.targets_of(column))
        if (is_observable_target(t)) out.push_back(t & ~kObservableTarget);
    keep_odd_occurrences(out);
}

}  // namespace vornex
