// decoder_families(): the family table as Python dicts, for the package's
// names, its command line and its sinter plugin.
#include "dem/decoder_families.h"
#include "module/binding.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

void set_item(PyObject* dict, const char* key, PyObject* value) {
    Ref owned = Ref::checked(value);
    if (PyDict_SetItemString(dict, key, owned.get()) < 0) throw_python_error();
}

PyObject* text(std::string_view s) { return py_str(std::string(s)); }

PyObject* alias_tuple(const DecoderFamily& family) {
    const auto aliases = aliases_of(family);
    Ref tuple = Ref::checked(PyTuple_New(static_cast<Py_ssize_t>(aliases.size())));
    for (size_t i = 0; i < aliases.size(); ++i)
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), text(aliases[i]));
    return tuple.release();
}

PyObject* families_py(const Args&) {
    const auto families = decoder_families();
    Ref list = Ref::checked(PyList_New(0));
    for (const DecoderFamily& family : families) {
        Ref row = Ref::checked(PyDict_New());
        set_item(row.get(), "name", text(family.name));
        set_item(row.get(), "class_name", text(family.class_name));
        set_item(row.get(), "aliases", alias_tuple(family));
        set_item(row.get(), "hyperedges", py_bool(family.hyperedges));
        set_item(row.get(), "exact", py_bool(family.exact));
        set_item(row.get(), "summary", text(family.summary));
        set_item(row.get(), "options", text(family.options));
        if (PyList_Append(list.get(), row.get()) < 0) throw_python_error();
    }
    return list.release();
}

}  // namespace

ModuleItem& decoder_families_function() {
    return function_item<families_py>(
        "decoder_families()",
        "The decoder families that build from a detector error model, default first: one dict each with\n"
        "name (the family's name everywhere; sinter's is 'vornex_' + name), class_name (the class whose\n"
        "from_detector_error_model builds it), aliases (older names still accepted), hyperedges (True when it\n"
        "decodes errors flipping more than two detectors), exact (True when it returns a most likely error),\n"
        "summary (what it does and when to pick it) and options (keyword options the class is built with,\n"
        "as in a spec: 'enable_correlations=true'; '' for none).");
}

}  // namespace vornex::py
