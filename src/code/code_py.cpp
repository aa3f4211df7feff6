// Module functions of the code model: the edge list and the code generators.
#include "code/check_graph.h"
#include "code/generators.h"
#include "module/binding.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

PyObject* check_to_edges_py(const Args& args) {
    return py_value(check_to_edges(args.get<CheckList>(0)));
}

PyObject* generated(Result<GeneratedCode>&& result) {
    GeneratedCode code = unwrap(std::move(result));
    return py_tuple(py_value(code.checks), py_int(code.n_qubits));
}

PyObject* surface_code_py(const Args& args) { return generated(generate_surface_code(args.get<uint32_t>(0))); }
PyObject* toy_code_py(const Args& args) { return generated(generate_toy_code(args.get<uint32_t>(0))); }
PyObject* ring_code_py(const Args& args) { return generated(generate_ring_code(args.get<uint32_t>(0))); }
PyObject* repetition_code_py(const Args& args) {
    return generated(Result<GeneratedCode>(generate_repetition_code(args.get<uint32_t>(0))));
}

}  // namespace

ModuleItem& py_check_to_edges_function() {
    return function_item<check_to_edges_py>("py_check_to_edges(check_to_qubits)",
                                            "Convert check_to_qubits to edge list (Python-exposed).");
}

ModuleItem& py_generate_surface_code_checks_function() {
    return function_item<surface_code_py>(
        "py_generate_surface_code_checks(distance)",
        "Generate the compact periodic surface-code-style layout used by the Python API.\n\n"
        "The public contract is `d*d` data qubits arranged on a periodic square grid and\n"
        "`2*d*d` four-body checks.  Indices are always in `0..d*d`, so downstream\n"
        "decoders can safely trust the returned `n_qubits`.");
}

ModuleItem& py_generate_toy_code_checks_function() {
    return function_item<toy_code_py>(
        "py_generate_toy_code_checks(distance)",
        "Generate a toy code (not a proper quantum code) for backward compatibility.\n"
        "Kept for reference; prefer py_generate_surface_code_checks for real tests.");
}

ModuleItem& py_generate_ring_code_checks_function() {
    return function_item<ring_code_py>("py_generate_ring_code_checks(distance)",
                                       "Generate a simple ring code for testing (Python-exposed).");
}

ModuleItem& py_generate_repetition_code_checks_function() {
    return function_item<repetition_code_py>("py_generate_repetition_code_checks(distance)",
                                             "Generate a repetition/chain code for testing (Python-exposed).");
}

}  // namespace vornex::py
