// The repr every class of the module shares: its name and its sizes, as a
// call that names them ("UnionFindDecoder(n_qubits=5, n_checks=4)").
#pragma once

#include <vector>

#include "module/python.h"

namespace vornex::py {

// One size shown by a class's repr: the attribute's name and its getter.
struct ReprField {
    const char* name;
    getter get;
};

// "Name(field=value, ...)" with the name of self's class. When a size cannot
// be read now (the object is borrowed exclusively, or belongs to another
// thread) that error is dropped and the interpreter's default
// "<module.Name object at 0x...>" form is returned: printing an object must
// not fail.
PyObject* object_repr(PyObject* self, const std::vector<ReprField>& fields);

}  // namespace vornex::py
