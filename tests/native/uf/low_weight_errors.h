// Codes with a known distance and a way to tell a logical failure, for the
// check that a decoder corrects every error of weight up to (d - 1) / 2.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/wyrand.h"
#include "code/check_graph.h"
#include "code/generators.h"
#include "common/codes.h"

namespace vornex::testing {

// A one-type code whose qubits lie in one or two checks, so a residual error
// with no syndrome is a set of cycles through the single boundary node. It is
// a logical operator exactly when it leaves through the left boundary an odd
// number of times (and so enters from the right an odd number of times).
struct DistanceCode {
    std::string name;
    CheckList checks;
    size_t n_qubits = 0;
    uint32_t distance = 0;
    std::vector<uint32_t> left_boundary;

    bool is_logical(const std::vector<uint8_t>& residual) const {
        uint8_t crossings = 0;
        for (uint32_t q : left_boundary) crossings ^= residual[q];
        return crossings != 0;
    }
};

inline DistanceCode repetition_distance_code(uint32_t d) {
    auto rep = generate_repetition_code(d);
    return {"repetition d=" + std::to_string(d), rep.checks, rep.n_qubits, d, {0}};
}

// Qubit r*d + c; the qubits of column 0 that lie in a single check are the
// left boundary (the top and bottom rows carry weight-2 checks).
inline DistanceCode rotated_distance_code(uint32_t d) {
    DistanceCode code{"rotated d=" + std::to_string(d), rotated_sector_top_bottom(d), size_t{d} * d, d, {}};
    std::vector<int> uses(code.n_qubits, 0);
    for (const auto& check : code.checks)
        for (uint32_t q : check) ++uses[q];
    for (uint32_t r = 0; r < d; ++r)
        if (uses[r * d] == 1) code.left_boundary.push_back(r * d);
    return code;
}

// Every error of weight 1 and 2 up to (d - 1) / 2, then `samples` random
// errors of each weight from 3 up to (d - 1) / 2.
inline void for_each_correctable_error(const DistanceCode& code, size_t samples, uint64_t seed,
                                       const std::function<void(const std::vector<uint8_t>&)>& visit) {
    const uint32_t t = (code.distance - 1) / 2;
    const auto n = static_cast<uint32_t>(code.n_qubits);
    std::vector<uint8_t> error(n, 0);
    for (uint32_t i = 0; t >= 1 && i < n; ++i) {
        error[i] = 1;
        visit(error);
        for (uint32_t j = i + 1; t >= 2 && j < n; ++j) {
            error[j] = 1;
            visit(error);
            error[j] = 0;
        }
        error[i] = 0;
    }
    Wyrand rng(seed);
    for (uint32_t w = 3; w <= t; ++w) {
        for (size_t s = 0; s < samples; ++s) {
            std::fill(error.begin(), error.end(), 0);
            for (uint32_t placed = 0; placed < w;) {
                const auto q = static_cast<uint32_t>(rng.next_u64() % n);
                placed += error[q] == 0;
                error[q] = 1;
            }
            visit(error);
        }
    }
}

// The repetition and rotated codes of distance 3 to 9.
inline std::vector<DistanceCode> distance_codes() {
    std::vector<DistanceCode> codes;
    for (uint32_t d = 3; d <= 9; d += 2) {
        codes.push_back(repetition_distance_code(d));
        codes.push_back(rotated_distance_code(d));
    }
    return codes;
}

}  // namespace vornex::testing
