// The planar rotated surface code of distance d.
//
// d x d data qubits, qubit r*d + c. Every check sits on a 2x2 cell of the
// grid named by its top-left corner (r, c) with r, c in -1 .. d-1; cells that
// reach past the grid are clipped, which gives the weight-2 boundary checks.
// Z checks take the cells with r + c even, clipped only above the first and
// below the last row; X checks take the cells with r + c odd, clipped only
// left of the first and right of the last column. A Z string down column 0
// and an X string along row 0 are the logical operators. Every qubit lies in
// one or two checks of each type, so the whole Union-Find family accepts
// either type on its own.
#pragma once

#include <cstdint>
#include <vector>

#include "base/result.h"
#include "code/check_graph.h"

namespace vornex {

// Where the clipped weight-2 checks of one check type lie.
enum class BoundarySides { top_bottom, left_right };

// Qubits of the cell with top-left corner (row, col) that lie on the grid, row by row.
std::vector<uint32_t> rotated_cell(uint32_t d, int64_t row, int64_t col);

// The cells with row + col of the given parity (0 or 1), row by row: the
// weight-4 cells inside and the clipped cells on `sides`.
CheckList rotated_checks(uint32_t d, uint32_t parity, BoundarySides sides);

struct RotatedSurfaceCode {
    uint32_t distance = 0;
    uint32_t n_qubits = 0;
    CheckList z_checks;                // detect X errors; boundaries on the top and bottom rows
    CheckList x_checks;                // detect Z errors; boundaries on the left and right columns
    std::vector<uint32_t> z_logical;   // column 0: commutes with every X check
    std::vector<uint32_t> x_logical;   // row 0: commutes with every Z check
};

// Distances 1 .. 65535 (d*d must fit 32 bits); (d*d - 1) / 2 checks of each
// type for odd d.
Result<RotatedSurfaceCode> generate_rotated_surface_code(uint32_t distance);

}  // namespace vornex
