// Array shapes in messages and the sizes derived from them, shared by every
// decoder family.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "base/result.h"

namespace vornex {

// A shape as the bracketed list used in messages, e.g. "[4, 7]".
std::string shape_text(std::span<const size_t> shape);

// "Expected shape (batch, n_checks), got [..]" unless `shape` is exactly
// two-dimensional with n_checks columns.
Status check_batch_shape(size_t n_checks, std::span<const size_t> shape);

// n_shots * row_bytes, or std::bad_alloc when that does not fit in memory's
// address range (a wrapped product would under-allocate the output).
size_t batch_bytes(size_t n_shots, size_t row_bytes);

}  // namespace vornex
