// Call arguments bound to a signature's parameters, with converters that add
// the parameter's name as a note when they fail.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "module/arrays.h"
#include "module/convert.h"
#include "module/errors.h"
#include "module/python.h"
#include "module/signature.h"

namespace vornex::py {

class Args {
public:
    // Binds vectorcall-style arguments (positional, then keyword values named
    // by kwnames) with the interpreter's usual TypeErrors for bad calls.
    Args(const Signature& signature, PyObject* const* args, size_t nargs, PyObject* kwnames);
    // Binds tuple/dict arguments (constructors).
    Args(const Signature& signature, PyObject* args, PyObject* kwargs);

    // The raw object of parameter i, or nullptr when an optional one was omitted.
    PyObject* operator[](size_t i) const { return values_[i]; }
    bool given(size_t i) const { return values_[i] != nullptr && values_[i] != Py_None; }
    const char* name(size_t i) const { return signature_->parameters[i].name.c_str(); }
    // Number of parameters of the signature.
    size_t size() const { return signature_->parameters.size(); }

    // Parameter i converted to T; optional parameters convert to nullopt when omitted.
    template <class T>
    T get(size_t i) const {
        try {
            return from_python<T>(values_[i]);
        } catch (const PythonError&) {
            add_argument_note(name(i));
            throw;
        }
    }

    // Parameter i as a borrowed ndarray of dtype T with `ndim` dimensions
    // (any number when ndim < 0).
    template <class T>
    ArrayView<T> array(size_t i, int ndim, const char* type_name) const {
        try {
            return array_arg<T>(values_[i], ndim, name(i), type_name);
        } catch (const PythonError&) {
            add_argument_note(name(i));
            throw;
        }
    }
    ArrayView<uint8_t> u8_array(size_t i, int ndim) const { return array<uint8_t>(i, ndim, "uint8"); }

private:
    void bind(PyObject* const* positional, size_t npositional, PyObject* kwnames,
              PyObject* const* keyword_values, PyObject* kwargs);
    void set(size_t slot, PyObject* value);

    const Signature* signature_;
    // Inline storage: binding a call must not allocate.
    std::array<PyObject*, kMaxParameters> values_{};
};

// Optional parameter i counting something (an order, a number of columns):
// a negative int is a wrong value, ValueError "<name> must be >= 0, got
// <value>", rather than the OverflowError of an unsigned conversion.
std::optional<uint64_t> optional_count(const Args& args, size_t i);

}  // namespace vornex::py
