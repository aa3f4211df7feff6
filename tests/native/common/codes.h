// Code layouts shared by the native tests.
#pragma once

#include <cstdint>
#include <vector>

#include "code/check_graph.h"
#include "code/rotated_sector.h"

namespace vornex::testing {

using vornex::rotated_sector_left_right;
using vornex::rotated_sector_top_bottom;

// Syndrome of an error pattern (qubits beyond the pattern ignored).
inline std::vector<uint8_t> syndrome_of(const CheckList& checks, const std::vector<uint8_t>& error) {
    std::vector<uint8_t> s(checks.size(), 0);
    for (size_t c = 0; c < checks.size(); ++c)
        for (uint32_t q : checks[c])
            if (q < error.size()) s[c] ^= error[q];
    return s;
}

}  // namespace vornex::testing
