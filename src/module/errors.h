// Turning native failures into Python exceptions, and the boundary that keeps
// every C++ exception out of the interpreter.
#pragma once

#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "base/progress.h"
#include "base/result.h"
#include "module/python.h"

namespace vornex::py {

// Thrown after a Python exception has been set; the boundary returns the
// failure value and lets the interpreter see the pending exception.
struct PythonError {};

[[noreturn]] inline void throw_python_error() { throw PythonError{}; }

// The module's PanicException type (derived from BaseException).
PyObject* panic_exception_type();
void set_panic_exception_type(PyObject* type);

[[noreturn]] void raise(PyObject* exception_type, const std::string& message);
[[noreturn]] void raise(const Error& error);

// The value of a native result, or the matching Python exception.
template <class T>
T unwrap(Result<T>&& result) {
    if (!result) raise(result.error());
    return std::move(result).value();
}

// Attaches "while processing '<name>'" to the pending exception through its
// notes (add_note, or the __notes__ list itself before Python 3.11).
void add_argument_note(const char* parameter);

// Runs a binding body; any C++ exception becomes a Python exception and the
// given failure value is returned. Nothing escapes into the interpreter.
template <class Fail, class Body>
auto boundary(Fail failure, Body&& body) noexcept -> decltype(body()) {
    try {
        return body();
    } catch (const PythonError&) {
    } catch (const WorkStopped&) {
        // The poll that stopped the work left its reason pending (Ctrl-C).
        if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::length_error&) {
        // A container asked for more than it can ever hold: also out of memory.
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(panic_exception_type(), e.what());
    } catch (...) {
        PyErr_SetString(panic_exception_type(), "unknown native exception");
    }
    return failure;
}

}  // namespace vornex::py
