// English descriptions of the module's classes, methods, properties and
// functions whose binding states none. Bindings that give a description keep
// it; the catalog only fills blanks, so a text already defined never changes.
#pragma once

#include <string_view>

namespace vornex::py {

// The description of `member` of class `owner` (member empty: the class
// itself; owner empty: the module function `member`). A member several
// families share (decode, n_qubits, ...) is described once for all of them
// and a class's own entry takes precedence. nullptr when there is none.
const char* catalog_description(std::string_view owner, std::string_view member);

}  // namespace vornex::py
