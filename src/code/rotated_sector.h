// One sector of the rotated surface code: the checks of one type of a d x d
// patch (qubit r*d + c), every qubit in one or two checks, so the whole
// Union-Find family accepts it. Two orientations exist; they are different
// codes (qubit numbering, check order and logical operators differ), and
// tests and benchmarks keep the one they were written against.
#pragma once

#include <cstdint>

#include "code/check_graph.h"
#include "code/rotated_surface.h"

namespace vornex {

// The Z checks of the rotated surface code: weight-2 checks on the top and
// bottom rows. (d*d - 1) / 2 checks for odd d.
inline CheckList rotated_sector_top_bottom(uint32_t d) { return rotated_checks(d, 0, BoundarySides::top_bottom); }

// The same cells with the weight-2 checks moved to the left and right
// columns: the Z checks of the mirrored colouring (the X cells of the
// rotated surface code have the other parity).
inline CheckList rotated_sector_left_right(uint32_t d) { return rotated_checks(d, 0, BoundarySides::left_right); }

}  // namespace vornex
