// The extension module: multi-phase initialisation and the ordered registry.
#define VORNEX_IMPORT_NUMPY
#include "module/python.h"

#include "base/version.h"
#include "module/errors.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

constexpr const char* kModuleDoc =
    "Quantum error correction decoders over NumPy arrays.\n\n"
    "Codes are given as check_to_qubits (one list of qubit indices per parity check) and\n"
    "n_qubits; syndromes are uint8 arrays with one byte per check and corrections uint8\n"
    "arrays with one byte per qubit. Decoders: Union-Find (single, batch, C interface),\n"
    "weighted matching, BP-OSD, lookup table, stream decoders, learned predecoders and a\n"
    "GPU batch decoder with CPU fallback.";

using ItemFactory = ModuleItem& (*)();

// Public order of the module's classes, then its functions.
ItemFactory const kRegistry[] = {
    blossom_decoder_class,
    fast_union_find_decoder_class,
    union_find_decoder_class,
    sparse_blossom_decoder_class,
    sliding_window_decoder_class,
    streaming_decoder_class,
    batch_decoder_class,
    cpu_batch_decoder_class,
    cuda_batch_decoder_class,
    benchmark_suite_class,
    ler_benchmark_class,
    lookup_table_decoder_class,
    bp_osd_decoder_class,
    neural_predecoder_class,
    detector_graph_class,
    gnn_predecoder_class,
    gnn_trainer_class,
    hybrid_decoder_class,
    detector_error_model_class,
    rotated_surface_code_class,
    matching_decoder_class,
    belief_matching_decoder_class,
    belief_correlated_decoder_class,
    weighted_union_find_decoder_class,
    learned_matching_decoder_class,
    relay_bp_decoder_class,
    stream_matching_decoder_class,
    py_check_to_edges_function,
    py_generate_surface_code_checks_function,
    py_generate_toy_code_checks_function,
    py_generate_ring_code_checks_function,
    py_generate_repetition_code_checks_function,
    run_mcp_server_function,
    cuda_is_available_function,
    decoder_families_function,
};

int add_panic_exception(PyObject* module) {
    PyObject* type = PyErr_NewExceptionWithDoc(
        "vornex_decoder_v3.PanicException",
        "Raised when an internal assertion of the library fails. Derives from BaseException so that\n"
        "`except Exception` does not swallow it.",
        PyExc_BaseException, nullptr);
    if (type == nullptr) return -1;
    set_panic_exception_type(type);
    const int status = PyModule_AddObjectRef(module, "PanicException", type);
    Py_DECREF(type);
    return status;
}

int exec_module(PyObject* module) {
    return boundary<int>(-1, [&]() -> int {
        if (PyArray_ImportNumPyAPI() < 0) return -1;
        if (PyModule_AddStringConstant(module, "__version__", kLibraryVersion) < 0) return -1;
        for (ItemFactory item : kRegistry)
            if (item().add_to(module) < 0) return -1;
        return add_panic_exception(module);
    });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "vornex_decoder_v3",
    kModuleDoc,
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace vornex::py

PyMODINIT_FUNC PyInit_vornex_decoder_v3() { return PyModuleDef_Init(&vornex::py::module_def); }
