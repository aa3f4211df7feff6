// A flattened detector error model: repeat blocks unrolled, detector shifts
// applied, so every id is absolute.
//
// Rows are detectors, columns are error mechanisms. Each column keeps its
// targets exactly as written (detectors, observables and the '^' separators
// between the parts of a decomposed error), so a graph view can split it into
// components while a column decoder reads the whole mechanism.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vornex {

// A column target is a detector id, an observable id with kObservableTarget
// set, or kSeparatorTarget. Detector ids stay below kObservableTarget.
inline constexpr uint32_t kObservableTarget = 0x80000000u;
inline constexpr uint32_t kSeparatorTarget = 0xFFFFFFFFu;

inline bool is_observable_target(uint32_t t) { return t != kSeparatorTarget && (t & kObservableTarget); }
inline bool is_detector_target(uint32_t t) { return !(t & kObservableTarget); }

struct DetectorErrorModel {
    uint32_t num_detectors = 0;    // one more than the largest detector id mentioned
    uint32_t num_observables = 0;  // one more than the largest observable id mentioned

    // Columns, in model order after unrolling.
    std::vector<double> probability;
    std::vector<uint32_t> line;          // source line of each column's instruction, for messages
    std::vector<uint32_t> target_begin;  // num_errors() + 1 offsets into targets
    std::vector<uint32_t> targets;

    // Coordinates of the detectors declared with them, in declaration order;
    // a detector declared twice keeps its first coordinates.
    std::vector<uint32_t> coordinate_detector;
    std::vector<uint32_t> coordinate_begin;  // coordinate_detector.size() + 1 offsets
    std::vector<double> coordinate_values;

    size_t num_errors() const { return probability.size(); }
    std::span<const uint32_t> targets_of(size_t column) const {
        return {targets.data() + target_begin[column], targets.data() + target_begin[column + 1]};
    }
    std::span<const double> coordinates_of_entry(size_t entry) const {
        return {coordinate_values.data() + coordinate_begin[entry],
                coordinate_values.data() + coordinate_begin[entry + 1]};
    }
};

// Detectors a column flips: those named an odd number of times over all its
// components, ascending. Written into `out` (cleared first).
void column_detectors(const DetectorErrorModel& model, size_t column, std::vector<uint32_t>& out);

// Observables a column flips, by the same rule.
void column_observables(const DetectorErrorModel& model, size_t column, std::vector<uint32_t>& out);

// Reduces `ids` in place to the ids that occur an odd number of times,
// ascending. Targets are XORed, so "D0 D0" flips nothing.
void keep_odd_occurrences(std::vector<uint32_t>& ids);

}  // namespace vornex
