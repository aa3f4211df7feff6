#include "module/check_matrix_warning.h"

#include <cstring>

#include "module/errors.h"
#include "module/python.h"
#include "module/ref.h"

namespace vornex::py {
namespace {

// Whether every entry of a 2-D array is 0 or 1 (an unconvertible array is not).
bool all_zero_or_one(PyObject* array) {
    Ref values = Ref::steal(PyArray_FROMANY(array, NPY_DOUBLE, 2, 2, NPY_ARRAY_CARRAY_RO));
    if (!values) {
        PyErr_Clear();
        return false;
    }
    auto* a = reinterpret_cast<PyArrayObject*>(values.get());
    const auto* data = static_cast<const double*>(PyArray_DATA(a));
    const npy_intp n = PyArray_SIZE(a);
    for (npy_intp i = 0; i < n; ++i)
        if (data[i] != 0.0 && data[i] != 1.0) return false;
    return true;
}

}  // namespace

void warn_if_check_matrix(const Args& args) {
    if (args.size() < 2 || std::strcmp(args.name(0), "check_to_qubits") != 0 ||
        std::strcmp(args.name(1), "n_qubits") != 0)
        return;
    PyObject* first = args[0];
    PyObject* second = args[1];
    if (first == nullptr || second == nullptr || !PyArray_Check(first) || !PyLong_Check(second)) return;
    auto* array = reinterpret_cast<PyArrayObject*>(first);
    if (PyArray_NDIM(array) != 2) return;
    const long long n_qubits = PyLong_AsLongLong(second);
    if (n_qubits == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        return;
    }
    if (PyArray_DIM(array, 1) != n_qubits || !all_zero_or_one(first)) return;
    if (PyErr_WarnEx(PyExc_UserWarning,
                     "check_to_qubits is a 2-D 0/1 array as wide as n_qubits: it is read as lists of qubit "
                     "indices, not as a parity-check matrix; use the class's from_check_matrix(H) for a matrix",
                     1) < 0)
        throw_python_error();
}

}  // namespace vornex::py
