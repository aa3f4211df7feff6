#include "module/args.h"

#include "module/ref.h"

#include <string>

namespace vornex::py {
namespace {

[[noreturn]] void raise_call_error(const Signature& sig, const std::string& detail) {
    raise(PyExc_TypeError, sig.name + "() " + detail);
}

size_t find_parameter(const Signature& sig, PyObject* key) {
    for (size_t i = 0; i < sig.parameters.size(); ++i)
        if (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, sig.parameters[i].name.c_str()) == 0)
            return i;
    return sig.parameters.size();
}

}  // namespace

Args::Args(const Signature& signature, PyObject* const* args, size_t nargs, PyObject* kwnames)
    : signature_(&signature) {
    bind(args, nargs, kwnames, args + nargs, nullptr);
}

Args::Args(const Signature& signature, PyObject* args, PyObject* kwargs)
    : signature_(&signature) {
    const size_t nargs = args ? static_cast<size_t>(PyTuple_GET_SIZE(args)) : 0;
    bind(nargs ? &PyTuple_GET_ITEM(args, 0) : nullptr, nargs, nullptr, nullptr, kwargs);
}

void Args::set(size_t slot, PyObject* value) {
    if (values_[slot] != nullptr)
        raise_call_error(*signature_, "got multiple values for argument '" +
                                          signature_->parameters[slot].name + "'");
    values_[slot] = value;
}

void Args::bind(PyObject* const* positional, size_t npositional, PyObject* kwnames,
                PyObject* const* keyword_values, PyObject* kwargs) {
    const Signature& sig = *signature_;
    const size_t n = sig.parameters.size();
    const size_t n_positional = sig.positional();
    if (npositional > n_positional) {
        raise_call_error(sig, "takes " + std::to_string(n_positional) + " positional argument" +
                                  (n_positional == 1 ? "" : "s") + " but " + std::to_string(npositional) +
                                  (npositional == 1 ? " was" : " were") + " given");
    }
    for (size_t i = 0; i < npositional; ++i) values_[i] = positional[i];

    auto bind_keyword = [&](PyObject* key, PyObject* value) {
        const size_t slot = find_parameter(sig, key);
        if (slot == n) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", sig.name.c_str(), key);
            throw_python_error();
        }
        set(slot, value);
    };
    if (kwnames != nullptr) {
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(kwnames); ++i)
            bind_keyword(PyTuple_GET_ITEM(kwnames, i), keyword_values[i]);
    }
    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject *key = nullptr, *value = nullptr;
        while (PyDict_Next(kwargs, &pos, &key, &value)) bind_keyword(key, value);
    }
    for (size_t i = 0; i < n; ++i) {
        if (values_[i] != nullptr) continue;
        values_[i] = sig.parameters[i].default_value;
        if (!sig.parameters[i].optional) {
            if (sig.parameters[i].keyword_only)
                raise_call_error(sig, "missing required keyword-only argument '" + sig.parameters[i].name + "'");
            raise_call_error(sig, "missing required argument '" + sig.parameters[i].name + "' (pos " +
                                      std::to_string(i + 1) + ")");
        }
    }
}

std::optional<uint64_t> optional_count(const Args& args, size_t i) {
    PyObject* value = args[i];
    if (value != nullptr && PyLong_Check(value)) {
        int overflow = 0;
        const long long count = PyLong_AsLongLongAndOverflow(value, &overflow);
        if (count == -1 && PyErr_Occurred()) throw_python_error();
        if (overflow < 0 || (overflow == 0 && count < 0)) {
            Ref text = Ref::checked(PyObject_Repr(value));
            raise(PyExc_ValueError,
                  std::string(args.name(i)) + " must be >= 0, got " + from_python<std::string>(text.get()));
        }
    }
    return args.get<std::optional<uint64_t>>(i);
}

}  // namespace vornex::py
