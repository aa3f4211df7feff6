// Python-to-native argument converters. Each raises the exact exception of
// the module's contract: TypeError for wrong kinds, OverflowError for ints
// outside the target range ("out of range integral type conversion
// attempted"), and "Can't extract `str` to `Vec`" for a str where a sequence
// is expected.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "code/check_graph.h"
#include "module/python.h"

namespace vornex::py {

// Specialised for every native argument type the module accepts.
template <class T>
struct FromPython;

template <class T>
T from_python(PyObject* object) {
    return FromPython<T>::convert(object);
}

// Items of a Python sequence (list, tuple, ...) as a fast sequence; rejects
// str and non-sequences with the contract's TypeErrors.
class SequenceItems {
public:
    explicit SequenceItems(PyObject* object);
    ~SequenceItems();
    SequenceItems(const SequenceItems&) = delete;
    SequenceItems& operator=(const SequenceItems&) = delete;
    Py_ssize_t size() const { return PySequence_Fast_GET_SIZE(fast_); }
    PyObject* operator[](Py_ssize_t i) const { return PySequence_Fast_GET_ITEM(fast_, i); }

private:
    PyObject* fast_;
};

// Unsigned int of at most `max` via __index__; negative or larger values
// raise OverflowError.
uint64_t to_unsigned(PyObject* object, uint64_t max);
// Signed int in [min, max] via __index__.
int64_t to_signed(PyObject* object, int64_t min, int64_t max);

template <>
struct FromPython<uint32_t> {
    static uint32_t convert(PyObject* o) { return static_cast<uint32_t>(to_unsigned(o, UINT32_MAX)); }
};
// Bytes given as Python ints 0..255 (syndromes passed as plain sequences).
template <>
struct FromPython<uint8_t> {
    static uint8_t convert(PyObject* o) { return static_cast<uint8_t>(to_unsigned(o, UINT8_MAX)); }
};
template <>
struct FromPython<uint64_t> {
    static uint64_t convert(PyObject* o) { return to_unsigned(o, UINT64_MAX); }
};
template <>
struct FromPython<int64_t> {
    static int64_t convert(PyObject* o) { return to_signed(o, INT64_MIN, INT64_MAX); }
};
template <>
struct FromPython<double> {
    static double convert(PyObject* o);
};
template <>
struct FromPython<bool> {
    static bool convert(PyObject* o);
};
template <>
struct FromPython<std::string> {
    static std::string convert(PyObject* o);
};

// None maps to nullopt; anything else must convert to T.
template <class T>
struct FromPython<std::optional<T>> {
    static std::optional<T> convert(PyObject* o) {
        if (o == nullptr || o == Py_None) return std::nullopt;
        return from_python<T>(o);
    }
};

// Any sequence of convertible items; the items are copied.
template <class T>
struct FromPython<std::vector<T>> {
    static std::vector<T> convert(PyObject* o) {
        SequenceItems items(o);
        std::vector<T> out;
        out.reserve(static_cast<size_t>(items.size()));
        for (Py_ssize_t i = 0; i < items.size(); ++i) out.push_back(from_python<T>(items[i]));
        return out;
    }
};

// The two items of a 2-tuple (weight pairs such as (qubit, weight)); any
// other object, or a tuple of another length, raises TypeError.
PyObject* const* pair_items(PyObject* object);

template <class A, class B>
struct FromPython<std::pair<A, B>> {
    static std::pair<A, B> convert(PyObject* o) {
        PyObject* const* items = pair_items(o);
        A first = from_python<A>(items[0]);
        return {std::move(first), from_python<B>(items[1])};
    }
};

}  // namespace vornex::py
