#include "module/object_repr.h"

#include <cstring>
#include <string>

#include "module/errors.h"
#include "module/ref.h"

namespace vornex::py {
namespace {

const char* short_type_name(PyObject* self) {
    const char* name = Py_TYPE(self)->tp_name;
    const char* dot = std::strrchr(name, '.');
    return dot != nullptr ? dot + 1 : name;
}

}  // namespace

PyObject* object_repr(PyObject* self, const std::vector<ReprField>& fields) {
    std::string text = std::string(short_type_name(self)) + "(";
    for (size_t k = 0; k < fields.size(); ++k) {
        Ref value = Ref::steal(fields[k].get(self, nullptr));
        if (!value) {
            PyErr_Clear();
            return Ref::checked(PyUnicode_FromFormat("<%s object at %p>", Py_TYPE(self)->tp_name, self)).release();
        }
        Ref shown = Ref::checked(PyObject_Str(value.get()));
        const char* digits = PyUnicode_AsUTF8(shown.get());
        if (digits == nullptr) throw_python_error();
        if (k > 0) text += ", ";
        text += fields[k].name;
        text += '=';
        text += digits;
    }
    text += ')';
    return Ref::checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()))).release();
}

}  // namespace vornex::py
