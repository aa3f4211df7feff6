#include "module/class_def.h"

#include "module/docstring_catalog.h"
#include "module/ref.h"

namespace vornex::py {
namespace {

constexpr const char* kModuleName = "vornex_decoder_v3";

const char* or_blank(const char* text) { return text != nullptr ? text : ""; }

// `owner` is the class name, empty for a module function.
PyMethodDef method_def(CallableEntry& entry, std::string_view owner) {
    describe_if_blank(entry.signature, or_blank(catalog_description(owner, entry.signature.name)));
    make_defaults(entry.signature);
    entry.publish(&entry.signature);
    return {entry.signature.name.c_str(), entry.function, entry.flags, entry.signature.docstring.c_str()};
}

}  // namespace

int ClassSpec::add_to(PyObject* module) {
    const std::string& class_name = constructor_.signature.name;
    describe_if_blank(constructor_.signature, or_blank(catalog_description(class_name, "")));
    make_defaults(constructor_.signature);
    constructor_.publish(&constructor_.signature);
    publish_binding_(bind_thread_);
    qualified_name_ = std::string(kModuleName) + "." + constructor_.signature.name;

    method_defs_.clear();
    for (auto& entry : methods_) method_defs_.push_back(method_def(entry, class_name));
    method_defs_.push_back({nullptr, nullptr, 0, nullptr});
    getset_defs_ = getset_;
    for (auto& def : getset_defs_)
        if (def.doc == nullptr) def.doc = catalog_description(class_name, def.name);
    getset_defs_.push_back({nullptr, nullptr, nullptr, nullptr, nullptr});
    publish_repr_fields_(&repr_fields_);

    slots_ = {
        {Py_tp_new, reinterpret_cast<void*>(new_)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_)},
        {Py_tp_doc, const_cast<char*>(constructor_.signature.docstring.c_str())},
        {Py_tp_repr, reinterpret_cast<void*>(repr_)},
        {Py_tp_methods, method_defs_.data()},
        {Py_tp_getset, getset_defs_.data()},
        {0, nullptr},
    };
    type_spec_ = {qualified_name_.c_str(), static_cast<int>(basicsize_), 0,
                  Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots_.data()};

    PyObject* type = PyType_FromModuleAndSpec(module, &type_spec_, nullptr);
    if (type == nullptr) return -1;
    // The slot keeps its own reference: instances of other classes may check
    // against this type for as long as the process lives.
    Py_INCREF(type);
    publish_type_(reinterpret_cast<PyTypeObject*>(type));
    // PyModule_AddObjectRef leaves our reference alone, success or not.
    const int status = PyModule_AddObjectRef(module, constructor_.signature.name.c_str(), type);
    Py_DECREF(type);
    return status;
}

int FunctionSpec::add_to(PyObject* module) {
    defs_[0] = method_def(entry_, "");
    defs_[1] = {nullptr, nullptr, 0, nullptr};
    return PyModule_AddFunctions(module, defs_);
}

}  // namespace vornex::py
