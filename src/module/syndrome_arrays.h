// Syndrome arrays of the Union-Find family: the contiguity check with each
// method's own prefix, then the batch shape check, in the order the family's
// messages are specified.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/shape.h"
#include "module/arrays.h"
#include "module/errors.h"

namespace vornex::py {

// Elements in row-major order. A non-empty array that is not contiguous and
// aligned raises ValueError "<prefix>The given array is not contiguous or is
// misaligned."; an empty one is never refused for its layout. The span lives
// as long as `view`.
inline std::span<const uint8_t> syndrome_bytes(ArrayView<uint8_t>& view, const char* prefix) {
    if (view.size() == 0) return {};
    if (!view.contiguous()) raise(PyExc_ValueError, std::string(prefix) + kNotContiguous);
    return view.row_major();
}

// The array's dimensions, for the native shape checks and their messages.
template <class T>
std::vector<size_t> array_shape(const ArrayView<T>& view) {
    std::vector<size_t> shape;
    for (int axis = 0; axis < view.ndim(); ++axis) shape.push_back(view.dim(axis));
    return shape;
}

struct SyndromeRows {
    std::span<const uint8_t> bytes;
    size_t n_shots = 0;
};

// A (batch, n_checks) array: zero dimensions and then any other shape fail
// with "Expected shape (batch, n_checks), got [..]", a layout failure in
// between with the prefix as above.
inline SyndromeRows syndrome_rows(ArrayView<uint8_t>& view, size_t n_checks, const char* prefix) {
    const std::vector<size_t> shape = array_shape(view);
    if (shape.empty()) unwrap(check_batch_shape(n_checks, shape));
    const std::span<const uint8_t> bytes = syndrome_bytes(view, prefix);
    unwrap(check_batch_shape(n_checks, shape));
    return {bytes, shape[0]};
}

}  // namespace vornex::py
