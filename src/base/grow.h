// Workspaces only grow: a decode sizes its arrays to the largest graph seen
// on this thread and never shrinks them, so warm calls allocate nothing.
#pragma once

#include <cstddef>

namespace vornex {

// Grows each array to at least n elements; new elements are value-initialised.
template <class... Arrays>
void grow_to(size_t n, Arrays&... arrays) {
    ((arrays.size() < n ? arrays.resize(n) : void()), ...);
}

// Grows each array to at least n elements; new elements take `fill`.
template <class T, class... Arrays>
void grow_filled(size_t n, const T& fill, Arrays&... arrays) {
    ((arrays.size() < n ? arrays.resize(n, fill) : void()), ...);
}

}  // namespace vornex
