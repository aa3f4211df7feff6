#include "code/generators.h"

#include <new>

#include "base/memory_budget.h"

namespace vornex {
namespace {

uint32_t grid_index(uint32_t r, uint32_t c, uint32_t d) { return r * d + c; }

void append_forward_block(CheckList& checks, uint32_t d) {
    for (uint32_t r = 0; r < d; ++r)
        for (uint32_t c = 0; c < d; ++c) {
            const uint32_t r1 = (r + 1) % d, c1 = (c + 1) % d;
            checks.push_back({grid_index(r, c, d), grid_index(r, c1, d), grid_index(r1, c, d),
                              grid_index(r1, c1, d)});
        }
}

void append_backward_block(CheckList& checks, uint32_t d) {
    for (uint32_t r = 0; r < d; ++r)
        for (uint32_t c = 0; c < d; ++c) {
            const uint32_t r0 = (d + r - 1) % d, c0 = (d + c - 1) % d;
            checks.push_back({grid_index(r, c, d), grid_index(r, c0, d), grid_index(r0, c, d),
                              grid_index(r0, c0, d)});
        }
}

constexpr uint32_t kMaxGridDistance = 65535;

Error grid_too_large() { return value_error("distance must be <= 65535"); }

// Refuses with std::bad_alloc, before the first check is built, a layout
// whose checks cannot be held: per check a vector and its heap block here,
// then a list and its integers when the caller is Python.
void require_room_for_checks(double n_checks, double weight) {
    constexpr double kBytesPerCheck = 160;
    if (!fits_in_memory(n_checks * (kBytesPerCheck + 40 * weight))) throw std::bad_alloc();
}

// A d x d torus of weight-4 checks: the forward block, then `second`.
Result<GeneratedCode> two_block_grid(uint32_t distance, void (*second)(CheckList&, uint32_t)) {
    if (distance > kMaxGridDistance) return grid_too_large();
    require_room_for_checks(2.0 * distance * distance, 4);
    GeneratedCode code;
    code.checks.reserve(2 * size_t{distance} * distance);
    append_forward_block(code.checks, distance);
    second(code.checks, distance);
    code.n_qubits = distance * distance;
    return code;
}

}  // namespace

Result<GeneratedCode> generate_surface_code(uint32_t distance) {
    if (distance < 2) return value_error("distance must be >= 2");
    return two_block_grid(distance, append_backward_block);
}

Result<GeneratedCode> generate_toy_code(uint32_t distance) {
    return two_block_grid(distance, append_forward_block);
}

Result<GeneratedCode> generate_ring_code(uint32_t distance) {
    if (distance > kMaxGridDistance) return grid_too_large();
    require_room_for_checks(1.0 * distance * distance, 2);
    GeneratedCode code;
    const uint32_t n = distance * distance;
    for (uint32_t i = 0; i < n; ++i) code.checks.push_back({i, (i + 1) % n});
    code.n_qubits = n;
    return code;
}

GeneratedCode generate_repetition_code(uint32_t distance) {
    require_room_for_checks(distance, 2);
    GeneratedCode code;
    for (uint32_t i = 0; i + 1 < distance; ++i) code.checks.push_back({i, i + 1});
    code.n_qubits = distance;
    return code;
}

}  // namespace vornex
