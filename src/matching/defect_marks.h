// The per-check defect index of one decode: defect_of_check[c] holds the
// index of c in `defects` while a decode runs and is back to -1 when it
// leaves, also when a step throws, so the map is all -1 between decodes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vornex {

class DefectMarks {
public:
    DefectMarks(const std::vector<uint32_t>& defects, std::vector<int32_t>& defect_of_check)
        : defects_(defects), defect_of_check_(defect_of_check) {
        for (size_t i = 0; i < defects_.size(); ++i) defect_of_check_[defects_[i]] = static_cast<int32_t>(i);
    }
    ~DefectMarks() {
        for (uint32_t c : defects_) defect_of_check_[c] = -1;
    }
    DefectMarks(const DefectMarks&) = delete;
    DefectMarks& operator=(const DefectMarks&) = delete;

private:
    const std::vector<uint32_t>& defects_;
    std::vector<int32_t>& defect_of_check_;
};

}  // namespace vornex
