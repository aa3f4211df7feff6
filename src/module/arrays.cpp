#include "module/arrays.h"

namespace vornex::py {
namespace {

constexpr const char* kHolderCapsule = "vornex_decoder_v3.buffer";

struct BufferHolder {
    void* holder;
    void (*release)(void*);
};

void release_capsule(PyObject* capsule) {
    auto* buffer = static_cast<BufferHolder*>(PyCapsule_GetPointer(capsule, kHolderCapsule));
    if (buffer == nullptr) {
        PyErr_Clear();
        return;
    }
    buffer->release(buffer->holder);
    delete buffer;
}

}  // namespace

PyArrayObject* check_array(PyObject* object, int type_num, const char* type_name, int ndim,
                           const char* argument) {
    if (!PyArray_Check(object)) {
        PyErr_Format(PyExc_TypeError, "argument '%s': expected a numpy.ndarray of dtype %s, got %.200s",
                     argument, type_name, Py_TYPE(object)->tp_name);
        throw_python_error();
    }
    auto* array = reinterpret_cast<PyArrayObject*>(object);
    if (PyArray_TYPE(array) != type_num) {
        Ref dtype = Ref::checked(PyObject_Str(reinterpret_cast<PyObject*>(PyArray_DESCR(array))));
        PyErr_Format(PyExc_TypeError, "argument '%s': expected an array of dtype %s, got dtype %U",
                     argument, type_name, dtype.get());
        throw_python_error();
    }
    if (ndim >= 0 && PyArray_NDIM(array) != ndim) {
        PyErr_Format(PyExc_TypeError, "argument '%s': expected a %d-dimensional array, got %d dimensions",
                     argument, ndim, PyArray_NDIM(array));
        throw_python_error();
    }
    return array;
}

PyObject* adopt_buffer(void* holder, void (*release)(void*), void* data, int type_num,
                       std::initializer_list<npy_intp> shape) {
    // The capsule owns the native buffer from here on, also on failure below.
    auto* buffer = new BufferHolder{holder, release};
    PyObject* capsule = PyCapsule_New(buffer, kHolderCapsule, release_capsule);
    if (capsule == nullptr) {
        release(holder);
        delete buffer;
        throw_python_error();
    }
    Ref owner = Ref::steal(capsule);
    npy_intp dims[NPY_MAXDIMS];
    int nd = 0;
    for (npy_intp extent : shape) dims[nd++] = extent;
    npy_intp total = 1;
    for (int i = 0; i < nd; ++i) total *= dims[i];
    if (total == 0 || data == nullptr) {
        // An empty vector may have no storage; NumPy then allocates its own.
        return Ref::checked(PyArray_ZEROS(nd, dims, type_num, 0)).release();
    }
    Ref array = Ref::checked(PyArray_SimpleNewFromData(nd, dims, type_num, data));
    if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.get()), owner.release()) != 0)
        throw_python_error();
    return array.release();
}

}  // namespace vornex::py
