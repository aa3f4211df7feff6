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
        case ErrorKind::Memory: return PyExc_MemoryError;
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

namespace {

// Python 3.11 added BaseException.add_note; on older interpreters the note
// goes into __notes__ directly, the list add_note keeps, so callers read the
// same notes everywhere.
bool append_note(PyObject* exception, PyObject* note) {
    if (PyObject_HasAttrString(exception, "add_note")) {
        Ref added = Ref::steal(PyObject_CallMethod(exception, "add_note", "O", note));
        return static_cast<bool>(added);
    }
    Ref notes = Ref::steal(PyObject_GetAttrString(exception, "__notes__"));
    if (!notes) {
        PyErr_Clear();
        notes = Ref::steal(PyList_New(0));
        if (!notes || PyObject_SetAttrString(exception, "__notes__", notes.get()) != 0) return false;
    }
    return PyList_Check(notes.get()) && PyList_Append(notes.get(), note) == 0;
}

}  // namespace

void add_argument_note(const char* parameter) {
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value != nullptr) {
        Ref note = Ref::steal(PyUnicode_FromFormat("while processing '%s'", parameter));
        if (note && !append_note(value, note.get())) PyErr_Clear();  // the note is best effort only
    }
    PyErr_Restore(type, value, traceback);
}

}  // namespace vornex::py
