#include "module/check_matrix.h"

#include <cmath>
#include <string>

#include "module/errors.h"
#include "module/ref.h"

namespace vornex::py {
namespace {

[[noreturn]] void refuse(const char* argument, const std::string& what) {
    raise(PyExc_ValueError, std::string("argument '") + argument + "': " + what);
}

// Entry (row, col) must be 0 or 1; 1 appends col to the row's check.
void take_entry(CheckMatrix& m, double value, size_t row, uint64_t col, const char* argument) {
    if (value == 1.0) {
        m.checks[row].push_back(static_cast<uint32_t>(col));
    } else if (value != 0.0) {
        refuse(argument, "parity-check matrix entries must be 0 or 1, found " + std::to_string(value) + " at (" +
                             std::to_string(row) + ", " + std::to_string(col) + ")");
    }
}

void check_columns(uint64_t n_columns, const char* argument) {
    if (n_columns > UINT32_MAX) refuse(argument, "more columns than 32-bit qubit indices can name");
}

CheckMatrix read_dense(PyObject* matrix, const char* argument) {
    Ref values = Ref::steal(PyArray_FROMANY(matrix, NPY_DOUBLE, 0, 0, NPY_ARRAY_CARRAY_RO));
    if (!values) {
        PyErr_Clear();
        refuse(argument, "expected a 2-D array of 0s and 1s or a scipy.sparse matrix");
    }
    auto* a = reinterpret_cast<PyArrayObject*>(values.get());
    if (PyArray_NDIM(a) != 2)
        refuse(argument, "expected a 2-D parity-check matrix, got " + std::to_string(PyArray_NDIM(a)) + " dimensions");
    const auto rows = static_cast<size_t>(PyArray_DIM(a, 0));
    const auto cols = static_cast<uint64_t>(PyArray_DIM(a, 1));
    check_columns(cols, argument);
    CheckMatrix m{CheckList(rows), cols};
    const auto* data = static_cast<const double*>(PyArray_DATA(a));
    for (size_t r = 0; r < rows; ++r)
        for (uint64_t c = 0; c < cols; ++c) take_entry(m, data[r * cols + c], r, c, argument);
    return m;
}

// A 1-D array attribute of a CSR matrix, as int64 or double.
Ref csr_part(PyObject* csr, const char* name, int type_num) {
    Ref part = Ref::steal(PyObject_GetAttrString(csr, name));
    if (!part) throw_python_error();
    Ref array = Ref::steal(PyArray_FROMANY(part.get(), type_num, 1, 1, NPY_ARRAY_CARRAY_RO));
    if (!array) throw_python_error();
    return array;
}

CheckMatrix read_sparse(PyObject* matrix, const char* argument) {
    // A canonical copy: duplicate entries summed, the caller's matrix untouched.
    Ref csr = Ref::steal(PyObject_CallMethod(matrix, "tocsr", "(O)", Py_True));
    if (!csr) throw_python_error();
    Ref summed = Ref::steal(PyObject_CallMethod(csr.get(), "sum_duplicates", nullptr));
    if (!summed) throw_python_error();
    Ref shape = Ref::steal(PyObject_GetAttrString(csr.get(), "shape"));
    if (!shape) throw_python_error();
    unsigned long long rows = 0, cols = 0;
    if (!PyArg_ParseTuple(shape.get(), "KK", &rows, &cols)) throw_python_error();
    check_columns(cols, argument);
    Ref indptr = csr_part(csr.get(), "indptr", NPY_INT64);
    Ref indices = csr_part(csr.get(), "indices", NPY_INT64);
    Ref data = csr_part(csr.get(), "data", NPY_DOUBLE);
    const auto* ptr = static_cast<const int64_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(indptr.get())));
    const auto* col = static_cast<const int64_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(indices.get())));
    const auto* val = static_cast<const double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(data.get())));
    CheckMatrix m{CheckList(rows), cols};
    for (size_t r = 0; r < rows; ++r)
        for (int64_t k = ptr[r]; k < ptr[r + 1]; ++k) take_entry(m, val[k], r, static_cast<uint64_t>(col[k]), argument);
    return m;
}

}  // namespace

std::optional<std::vector<double>> weights_from_probabilities(const Args& args, size_t index, uint64_t n_columns) {
    if (!args.given(index)) return std::nullopt;
    const auto p = args.get<std::vector<double>>(index);
    if (p.size() != n_columns)
        raise(PyExc_ValueError, "error_probabilities has " + std::to_string(p.size()) + " entries, the matrix " +
                                    std::to_string(n_columns) + " columns");
    std::vector<double> weights;
    weights.reserve(p.size());
    for (double q : p) {
        if (!(q > 0.0 && q < 1.0)) raise(PyExc_ValueError, "error_probabilities must lie strictly between 0 and 1");
        weights.push_back(std::log((1.0 - q) / q));
    }
    return weights;
}

CheckMatrix read_check_matrix(PyObject* matrix, const char* argument) {
    const int sparse = PyObject_HasAttrString(matrix, "tocsr");
    return sparse && !PyArray_Check(matrix) ? read_sparse(matrix, argument) : read_dense(matrix, argument);
}

}  // namespace vornex::py
