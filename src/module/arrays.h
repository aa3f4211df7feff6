// NumPy arrays in and out. Inputs are borrowed in place and never copied or
// written; results take over the native buffer without a copy.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "module/errors.h"
#include "module/python.h"
#include "module/ref.h"

namespace vornex::py {

// Appended by each method to its own prefix ("Invalid syndrome: ...").
inline constexpr const char* kNotContiguous = "The given array is not contiguous or is misaligned.";

template <class T>
struct NumpyType;
template <>
struct NumpyType<uint8_t> { static constexpr int value = NPY_UINT8; };
template <>
struct NumpyType<uint32_t> { static constexpr int value = NPY_UINT32; };
template <>
struct NumpyType<int64_t> { static constexpr int value = NPY_INT64; };
template <>
struct NumpyType<float> { static constexpr int value = NPY_FLOAT32; };
template <>
struct NumpyType<double> { static constexpr int value = NPY_FLOAT64; };

// A borrowed ndarray of element type T, already type-checked.
template <class T>
class ArrayView {
public:
    explicit ArrayView(PyArrayObject* array) : array_(array) {}

    PyArrayObject* array() const { return array_; }
    int ndim() const { return PyArray_NDIM(array_); }
    size_t dim(int axis) const { return static_cast<size_t>(PyArray_DIM(array_, axis)); }
    size_t size() const { return static_cast<size_t>(PyArray_SIZE(array_)); }
    // C- or F-contiguous and aligned; empty arrays count as contiguous.
    bool contiguous() const {
        const int flags = PyArray_FLAGS(array_);
        return (flags & NPY_ARRAY_ALIGNED) &&
               (flags & (NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_F_CONTIGUOUS));
    }
    // The elements in row-major order. A Fortran-ordered array (the only
    // other contiguous layout) is copied to row-major order first, so rows
    // are always read as the caller sees them. Requires contiguous().
    std::span<const T> row_major() {
        if (!PyArray_IS_C_CONTIGUOUS(array_)) {
            copy_ = Ref::checked(PyArray_NewCopy(array_, NPY_CORDER));
            return {static_cast<const T*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(copy_.get()))),
                    size()};
        }
        return {static_cast<const T*>(PyArray_DATA(array_)), size()};
    }

private:
    PyArrayObject* array_;
    Ref copy_;
};

// Checks that `object` is an ndarray of exactly dtype T (no casting, so bool
// and other integer widths are refused) and, when ndim >= 0, of that many
// dimensions; otherwise TypeError naming the argument.
PyArrayObject* check_array(PyObject* object, int type_num, const char* type_name, int ndim,
                           const char* argument);

template <class T>
ArrayView<T> array_arg(PyObject* object, int ndim, const char* argument, const char* type_name) {
    return ArrayView<T>(check_array(object, NumpyType<T>::value, type_name, ndim, argument));
}

// New array of the given shape owning `data` (moved, not copied):
// C-contiguous, writable, freed when the array goes.
PyObject* adopt_buffer(void* holder, void (*release)(void*), void* data, int type_num,
                       std::initializer_list<npy_intp> shape);

template <class T>
PyObject* to_array(std::vector<T>&& data, std::initializer_list<npy_intp> shape) {
    auto* holder = new std::vector<T>(std::move(data));
    return adopt_buffer(
        holder, [](void* p) { delete static_cast<std::vector<T>*>(p); }, holder->data(),
        NumpyType<T>::value, shape);
}

template <class T>
PyObject* to_array(std::vector<T>&& data) {
    const auto n = static_cast<npy_intp>(data.size());
    return to_array(std::move(data), {n});
}

}  // namespace vornex::py
