#include "base/shape.h"

#include <new>

namespace vornex {

std::string shape_text(std::span<const size_t> shape) {
    std::string text = "[";
    for (size_t i = 0; i < shape.size(); ++i) {
        if (i) text += ", ";
        text += std::to_string(shape[i]);
    }
    return text + "]";
}

Status check_batch_shape(size_t n_checks, std::span<const size_t> shape) {
    if (shape.size() == 2 && shape[1] == n_checks) return ok_status();
    return value_error("Expected shape (batch, " + std::to_string(n_checks) + "), got " + shape_text(shape));
}

size_t batch_bytes(size_t n_shots, size_t row_bytes) {
    size_t total = 0;
    if (__builtin_mul_overflow(n_shots, row_bytes, &total)) throw std::bad_alloc();
    return total;
}

}  // namespace vornex
