#include "module/convert.h"

#include "module/errors.h"
#include "module/ref.h"

namespace vornex::py {
namespace {

constexpr const char* kOutOfRange = "out of range integral type conversion attempted";

[[noreturn]] void raise_wrong_type(PyObject* object, const char* target) {
    PyErr_Format(PyExc_TypeError, "'%.200s' object cannot be converted to '%s'", Py_TYPE(object)->tp_name,
                 target);
    throw_python_error();
}

}  // namespace

SequenceItems::SequenceItems(PyObject* object) : fast_(nullptr) {
    if (PyUnicode_Check(object)) raise(PyExc_TypeError, "Can't extract `str` to `Vec`");
    if (!PySequence_Check(object)) raise_wrong_type(object, "Sequence");
    fast_ = PySequence_Fast(object, "");
    if (fast_ == nullptr) throw_python_error();
}

SequenceItems::~SequenceItems() { Py_XDECREF(fast_); }

uint64_t to_unsigned(PyObject* object, uint64_t max) {
    Ref index = Ref::checked(PyNumber_Index(object));
    int overflow = 0;
    const long long as_signed = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (as_signed == -1 && PyErr_Occurred()) throw_python_error();
    if (overflow < 0 || (overflow == 0 && as_signed < 0)) raise(PyExc_OverflowError, kOutOfRange);
    uint64_t value = static_cast<uint64_t>(as_signed);
    if (overflow > 0) {
        value = PyLong_AsUnsignedLongLong(index.get());
        if (value == static_cast<uint64_t>(-1) && PyErr_Occurred()) {
            PyErr_Clear();
            raise(PyExc_OverflowError, kOutOfRange);
        }
    }
    if (value > max) raise(PyExc_OverflowError, kOutOfRange);
    return value;
}

int64_t to_signed(PyObject* object, int64_t min, int64_t max) {
    Ref index = Ref::checked(PyNumber_Index(object));
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (value == -1 && PyErr_Occurred()) throw_python_error();
    if (overflow != 0 || value < min || value > max) raise(PyExc_OverflowError, kOutOfRange);
    return value;
}

double FromPython<double>::convert(PyObject* o) {
    const double value = PyFloat_AsDouble(o);
    if (value == -1.0 && PyErr_Occurred()) throw_python_error();
    return value;
}

bool FromPython<bool>::convert(PyObject* o) {
    if (!PyBool_Check(o)) raise_wrong_type(o, "PyBool");
    return o == Py_True;
}

std::string FromPython<std::string>::convert(PyObject* o) {
    if (!PyUnicode_Check(o)) raise_wrong_type(o, "PyString");
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(o, &size);
    if (data == nullptr) throw_python_error();
    return std::string(data, static_cast<size_t>(size));
}

PyObject* const* pair_items(PyObject* object) {
    if (!PyTuple_Check(object)) raise_wrong_type(object, "PyTuple");
    if (PyTuple_GET_SIZE(object) != 2) {
        PyErr_Format(PyExc_TypeError, "expected tuple of length 2, but got tuple of length %zd",
                     PyTuple_GET_SIZE(object));
        throw_python_error();
    }
    return &PyTuple_GET_ITEM(object, 0);
}

}  // namespace vornex::py
