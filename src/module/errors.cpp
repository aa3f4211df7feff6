#include "module/errors.h"

#include "module/ref.h"

namespace vornex::py {
namespace {

PyObject* g_panic_exception = nullptr;

PyObject* exception_type_for(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::Value: return PyExc_ValueError;
        case ErrorKind::Runtime: return PyExc_RuntimeError;
        case ErrorKind::Type: return PyExc_TypeError;
        case ErrorKind::Overflow: return PyExc_OverflowError;
        case ErrorKind::Panic: return panic_exception_type();
        case ErrorKind::Interrupted: return PyExc_KeyboardInterrupt;
    }
    return PyExc_RuntimeError;
}

}  // namespace

PyObject* panic_exception_type() {
    return g_panic_exception ? g_panic_exception : PyExc_RuntimeError;
}

void set_panic_exception_type(PyObject* type) {
    Py_XINCREF(type);
    Py_XSETREF(g_panic_exception, type);
}

void raise(PyObject* exception_type, const std::string& message) {
    PyErr_SetString(exception_type, message.c_str());
    throw_python_error();
}

void raise(const Error& error) {
    // A call stopped by its progress sink already has the reason pending
    // (KeyboardInterrupt from a signal handler, or the callback's exception).
    if (error.kind == ErrorKind::Interrupted && PyErr_Occurred()) throw_python_error();
    raise(exception_type_for(error.kind), error.message);
}

void add_argument_note(const char* parameter) {
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value != nullptr) {
        Ref note = Ref::steal(PyUnicode_FromFormat("while processing '%s'", parameter));
        Ref added;
        if (note) added = Ref::steal(PyObject_CallMethod(value, "add_note", "O", note.get()));
        // Older interpreters have no add_note; the note is best effort only.
        if (!added) PyErr_Clear();
    }
    PyErr_Restore(type, value, traceback);
}

}  // namespace vornex::py
