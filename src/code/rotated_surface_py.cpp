// RotatedSurfaceCode: the planar rotated surface code, both check types and
// its logical operators, as lists ready for the decoders.
#include "code/rotated_surface.h"
#include "module/binding.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

std::unique_ptr<RotatedSurfaceCode> construct(const Args& args) {
    return std::make_unique<RotatedSurfaceCode>(unwrap(generate_rotated_surface_code(args.get<uint32_t>(0))));
}

auto distance(const RotatedSurfaceCode& code) { return code.distance; }
auto n_qubits(const RotatedSurfaceCode& code) { return code.n_qubits; }
PyObject* z_checks(const RotatedSurfaceCode& code) { return py_value(code.z_checks); }
PyObject* x_checks(const RotatedSurfaceCode& code) { return py_value(code.x_checks); }
PyObject* z_logical(const RotatedSurfaceCode& code) { return py_value(code.z_logical); }
PyObject* x_logical(const RotatedSurfaceCode& code) { return py_value(code.x_logical); }

}  // namespace

ModuleItem& rotated_surface_code_class() {
    static ClassSpec spec =
        ClassSpec::of<construct>(
            "RotatedSurfaceCode(distance)",
            "The planar rotated surface code of distance d (1 .. 65535) on d x d data qubits, qubit r*d + c.\n\n"
            "z_checks (weight 4 inside, weight 2 on the top and bottom rows) detect X errors and x_checks\n"
            "(weight 2 on the left and right columns) detect Z errors; each qubit lies in one or two checks\n"
            "of each type, so either list goes straight to any decoder with n_qubits. z_logical (column 0)\n"
            "commutes with every X check, x_logical (row 0) with every Z check, and they anticommute: a\n"
            "residual X error is a logical failure when it has odd overlap with z_logical.")
            .getter<distance>("distance")
            .getter<n_qubits>("n_qubits")
            .getter<z_checks>("z_checks")
            .getter<x_checks>("x_checks")
            .getter<z_logical>("z_logical")
            .getter<x_logical>("x_logical");
    return spec;
}

}  // namespace vornex::py
