// Code layouts shared by the native benchmarks.
#pragma once

#include <cstdint>

#include "code/check_graph.h"

namespace vornex::bench {

// One sector of a rotated surface code: the Z-type plaquettes of a d x d
// patch (qubit r*d + c) with weight-2 checks on the top and bottom rows, so
// every qubit lies in one or two checks.
inline CheckList rotated_sector_checks(uint32_t d) {
    CheckList checks;
    auto q = [d](uint32_t r, uint32_t c) { return r * d + c; };
    for (uint32_t j = 0; j + 1 < d; ++j)
        if (j % 2 == 1) checks.push_back({q(0, j), q(0, j + 1)});
    for (uint32_t i = 0; i + 1 < d; ++i)
        for (uint32_t j = 0; j + 1 < d; ++j)
            if ((i + j) % 2 == 0) checks.push_back({q(i, j), q(i, j + 1), q(i + 1, j), q(i + 1, j + 1)});
    for (uint32_t j = 0; j + 1 < d; ++j)
        if ((d - 1 + j) % 2 == 0) checks.push_back({q(d - 1, j), q(d - 1, j + 1)});
    return checks;
}

}  // namespace vornex::bench
