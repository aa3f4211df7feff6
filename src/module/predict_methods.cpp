#include "module/predict_methods.h"

#include "base/shape.h"

namespace vornex::py {
namespace detail {
namespace {

[[noreturn]] void raise_shape(const char* argument, size_t width, bool bit_packed, bool batch,
                              const ModelObservables& model, PyArrayObject* array) {
    std::vector<size_t> shape;
    for (int axis = 0; axis < PyArray_NDIM(array); ++axis) shape.push_back(static_cast<size_t>(PyArray_DIM(array, axis)));
    std::string expected = batch ? "(shots, " + std::to_string(width) + ")" : "(" + std::to_string(width) + ",)";
    std::string meaning = bit_packed ? std::to_string(model.num_detectors) + " detectors bit-packed into " +
                                           std::to_string(width) + " bytes per shot"
                                     : "one byte per detector";
    raise(PyExc_ValueError, std::string(argument) + ": expected shape " + expected + " (" + meaning + "), got " +
                                shape_text(shape));
}

}  // namespace

PyArrayObject* event_array(const Args& args, size_t i) {
    PyObject* object = args[i];
    if (!PyArray_Check(object)) {
        PyErr_Format(PyExc_TypeError, "argument '%s': expected a numpy.ndarray of dtype uint8 or bool, got %.200s",
                     args.name(i), Py_TYPE(object)->tp_name);
        throw_python_error();
    }
    auto* array = reinterpret_cast<PyArrayObject*>(object);
    if (PyArray_TYPE(array) != NPY_UINT8 && PyArray_TYPE(array) != NPY_BOOL) {
        Ref dtype = Ref::checked(PyObject_Str(reinterpret_cast<PyObject*>(PyArray_DESCR(array))));
        PyErr_Format(PyExc_TypeError, "argument '%s': expected an array of dtype uint8 or bool, got dtype %U",
                     args.name(i), dtype.get());
        throw_python_error();
    }
    return array;
}

EventRows event_rows(const Args& args, size_t i, const ModelObservables& model, bool bit_packed, bool batch) {
    PyArrayObject* array = event_array(args, i);
    const size_t width = BitRows{model.num_detectors, bit_packed}.row_bytes();
    const int ndim = batch ? 2 : 1;
    if (PyArray_NDIM(array) != ndim || static_cast<size_t>(PyArray_DIM(array, ndim - 1)) != width)
        raise_shape(args.name(i), width, bit_packed, batch, model, array);
    EventRows rows;
    // Bool and uint8 are both one byte holding 0 or 1, so either is read as bytes.
    rows.array = Ref::checked(reinterpret_cast<PyObject*>(PyArray_GETCONTIGUOUS(array)));
    auto* contiguous = reinterpret_cast<PyArrayObject*>(rows.array.get());
    rows.n_shots = batch ? static_cast<size_t>(PyArray_DIM(contiguous, 0)) : 1;
    rows.bytes = {static_cast<const uint8_t*>(PyArray_DATA(contiguous)), static_cast<size_t>(PyArray_SIZE(contiguous))};
    return rows;
}

void raise_no_model(const char* class_name) {
    raise(PyExc_ValueError, std::string(class_name) +
                                " has no observables: it was built from check lists; build it with " + class_name +
                                ".from_detector_error_model(model) to predict observables");
}

}  // namespace detail
}  // namespace vornex::py
