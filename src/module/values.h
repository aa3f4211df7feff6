// Native-to-Python values: ints, floats, strings, lists and tuples.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "module/errors.h"
#include "module/python.h"
#include "module/ref.h"

namespace vornex::py {

inline PyObject* py_int(uint64_t value) { return Ref::checked(PyLong_FromUnsignedLongLong(value)).release(); }
inline PyObject* py_signed(int64_t value) { return Ref::checked(PyLong_FromLongLong(value)).release(); }
inline PyObject* py_float(double value) { return Ref::checked(PyFloat_FromDouble(value)).release(); }
inline PyObject* py_bool(bool value) { return Ref::checked(PyBool_FromLong(value)).release(); }
inline PyObject* py_str(const std::string& value) {
    return Ref::checked(PyUnicode_FromStringAndSize(value.data(), static_cast<Py_ssize_t>(value.size())))
        .release();
}
inline PyObject* py_none() { Py_RETURN_NONE; }

template <class T>
    requires std::is_integral_v<T>
PyObject* py_value(T v) {
    if constexpr (std::is_same_v<T, bool>)
        return py_bool(v);
    else if constexpr (std::is_signed_v<T>)
        return py_signed(v);
    else
        return py_int(v);
}
inline PyObject* py_value(double v) { return py_float(v); }
inline PyObject* py_value(const std::string& v) { return py_str(v); }

template <class A, class B>
PyObject* py_value(const std::pair<A, B>& pair);

// None for an empty optional, else its value converted.
template <class T>
PyObject* py_value(const std::optional<T>& value) {
    return value ? py_value(*value) : py_none();
}

// A Python list of the converted items (nested vectors become nested lists).
template <class T>
PyObject* py_value(const std::vector<T>& items) {
    Ref list = Ref::checked(PyList_New(static_cast<Py_ssize_t>(items.size())));
    for (size_t i = 0; i < items.size(); ++i)
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), py_value(items[i]));
    return list.release();
}

template <class A, class B>
PyObject* py_value(const std::pair<A, B>& pair) {
    Ref first = Ref::steal(py_value(pair.first));
    Ref second = Ref::steal(py_value(pair.second));
    return Ref::checked(PyTuple_Pack(2, first.get(), second.get())).release();
}

// A tuple of already-converted new references (stolen).
template <class... Items>
PyObject* py_tuple(Items... items) {
    Ref refs[] = {Ref::steal(items)...};
    Ref tuple = Ref::checked(PyTuple_New(sizeof...(Items)));
    for (size_t i = 0; i < sizeof...(Items); ++i)
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), refs[i].release());
    return tuple.release();
}

}  // namespace vornex::py
