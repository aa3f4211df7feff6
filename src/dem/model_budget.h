// The memory a family builds from a model, checked against the memory budget
// before any of it is taken: a model of a few bytes can declare millions of
// detectors, and every family sizes arrays by that count.
#pragma once

#include <string_view>

#include "base/memory_budget.h"
#include "dem/dem_model.h"

namespace vornex {

// What a family takes for a model, measured on its build and first
// prediction: bytes per declared detector, and per pair of detectors for
// dense square tables (ordered-statistics elimination).
struct ModelFootprint {
    std::string_view decoder;  // "a matching decoder", as the message names it
    double bytes_per_detector = 0.0;
    double bytes_per_detector_pair = 0.0;
};

// MemoryError text naming the model's detector count, the estimate and the
// budget when `family` would not fit in it.
inline Status check_model_footprint(const DetectorErrorModel& model, const ModelFootprint& family) {
    return check_count_budget("the model", model.num_detectors, "detectors", family.decoder, family.bytes_per_detector,
                              family.bytes_per_detector_pair);
}

}  // namespace vornex
