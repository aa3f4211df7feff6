// Constructors read `check_to_qubits` as index lists, as defined. A 2-D 0/1
// array whose width equals n_qubits is almost surely a parity-check matrix
// passed by mistake (its rows would be read as qubit indices 0 and 1), so
// they warn once per call and point to the explicit constructor.
#pragma once

#include "module/args.h"

namespace vornex::py {

// Warns (UserWarning) when argument 0 looks like a parity-check matrix for
// argument 1; a warning turned into an error raises it.
void warn_if_check_matrix(const Args& args);

}  // namespace vornex::py
