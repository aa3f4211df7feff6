// One sector of the rotated surface code: the checks of one type of a d x d
// patch (qubit r*d + c), every qubit in one or two checks, so the whole
// Union-Find family accepts it. Two orientations exist; they are different
// codes (qubit numbering, check order and logical operators differ), and
// tests and benchmarks keep the one they were written against.
#pragma once

#include <cstdint>
#include <vector>

#include "code/check_graph.h"

namespace vornex {

// The Z-type plaquettes of a d x d patch (qubit r*d + c) with weight-2
// checks on the top and bottom rows, so every qubit lies in one or two
// checks. (d*d - 1) / 2 checks for odd d.
inline CheckList rotated_sector_top_bottom(uint32_t d) {
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

// The checks of one type of the rotated surface code of odd distance d,
// built row by row: weight 4 inside, weight 2 on the left and right edges.
// Every qubit lies in one or two checks; the top and bottom rows carry the
// boundary edges.
inline CheckList rotated_sector_left_right(uint32_t d) {
    CheckList checks;
    const auto q = [d](int r, int c) { return static_cast<uint32_t>(r * static_cast<int>(d) + c); };
    for (int r = 0; r + 1 < static_cast<int>(d); ++r) {
        for (int c = -1; c < static_cast<int>(d); ++c) {
            if ((r + c + 2) % 2 != 0) continue;
            std::vector<uint32_t> check;
            for (int dr = 0; dr < 2; ++dr)
                for (int dc = 0; dc < 2; ++dc)
                    if (c + dc >= 0 && c + dc < static_cast<int>(d)) check.push_back(q(r + dr, c + dc));
            checks.push_back(check);
        }
    }
    return checks;
}

}  // namespace vornex
