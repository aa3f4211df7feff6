#include "code/rotated_surface.h"

namespace vornex {

std::vector<uint32_t> rotated_cell(uint32_t d, int64_t row, int64_t col) {
    std::vector<uint32_t> cell;
    cell.reserve(4);
    const int64_t size = d;
    for (int64_t r = row; r <= row + 1; ++r)
        for (int64_t c = col; c <= col + 1; ++c)
            if (r >= 0 && r < size && c >= 0 && c < size) cell.push_back(static_cast<uint32_t>(r * size + c));
    return cell;
}

CheckList rotated_checks(uint32_t d, uint32_t parity, BoundarySides sides) {
    // Corners run over -1 .. d-1 on the clipped axis and 0 .. d-2 on the other.
    const int64_t last = static_cast<int64_t>(d) - 1;
    const bool rows_clipped = sides == BoundarySides::top_bottom;
    const int64_t row_begin = rows_clipped ? -1 : 0, row_end = rows_clipped ? last : last - 1;
    const int64_t col_begin = rows_clipped ? 0 : -1, col_end = rows_clipped ? last - 1 : last;
    CheckList checks;
    for (int64_t r = row_begin; r <= row_end; ++r)
        for (int64_t c = col_begin; c <= col_end; ++c)
            if (((r + c) & 1) == static_cast<int64_t>(parity & 1)) checks.push_back(rotated_cell(d, r, c));
    return checks;
}

Result<RotatedSurfaceCode> generate_rotated_surface_code(uint32_t distance) {
    if (distance < 1) return value_error("distance must be >= 1");
    if (distance > 65535) return value_error("distance must be <= 65535");
    RotatedSurfaceCode code;
    code.distance = distance;
    code.n_qubits = distance * distance;
    code.z_checks = rotated_checks(distance, 0, BoundarySides::top_bottom);
    code.x_checks = rotated_checks(distance, 1, BoundarySides::left_right);
    for (uint32_t i = 0; i < distance; ++i) {
        code.z_logical.push_back(i * distance);
        code.x_logical.push_back(i);
    }
    return code;
}

}  // namespace vornex
