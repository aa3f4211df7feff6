// LookupTableDecoder: a syndrome table of Union-Find corrections.
#include "classical/lookup_table.h"
#include "module/binding.h"
#include "module/python_progress.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

PyObject* build_table(LookupTable& table, const Args& args) {
    const auto max_entries = args.get<uint64_t>(0);
    PythonProgress progress(args[1]);
    unwrap(table.build_table(max_entries, &progress));
    return py_none();
}

}  // namespace

ModuleItem& lookup_table_decoder_class() {
    using D = LookupTable;
    static ClassSpec spec =
        ClassSpec::of<construct_from_code<D>>("LookupTableDecoder(check_to_qubits, n_qubits)")
            .class_method<from_check_matrix<D>>(kFromCheckMatrixSignature, kFromCheckMatrixDoc)
            .class_method<construct_from_model<D>>("from_detector_error_model($type, model)", kFromModelDoc)
            .method<build_table>("build_table($self, max_entries, *, progress=None)",
                                 "Build the lookup table by enumerating errors up to `max_entries`.")
            .method<decode_method<&D::decode, "Invalid syndrome: ">>("decode($self, syndrome)",
                                                                     "Decode a single syndrome (NumPy array).")
            .method<batch_method<&D::batch_decode, "Invalid syndromes: ">>(
                "batch_decode($self, syndromes)", "Batch decode (NumPy 2D array, shape (batch, n_checks)).")
            .method<predict_observables_method<D>>(kPredictSignature, kPredictDoc)
            .method<predict_observables_batch_method<D>>(kPredictBatchSignature, kPredictBatchDoc)
            .getter<&D::n_qubits>("n_qubits")
            .getter<&D::n_checks>("n_checks")
            .getter<&D::table_size>("table_size");
    return spec;
}

}  // namespace vornex::py
