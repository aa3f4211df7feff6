// LookupTableDecoder: a syndrome table of Union-Find corrections.
#include "module/binding.h"
#include "module/released_work.h"
#include "module/registry.h"
#include "uf/lookup_table.h"

namespace vornex::py {
namespace {

PyObject* build_table(LookupTable& table, const Args& args) {
    const auto max_entries = args.get<uint64_t>(0);
    unwrap(with_progress(args[1], [&](ProgressSink* progress) { return table.build_table(max_entries, progress); }));
    return py_none();
}

}  // namespace

ModuleItem& lookup_table_decoder_class() {
    using D = LookupTable;
    static ClassSpec spec =
        check_graph_class<D>("LookupTableDecoder(check_to_qubits, n_qubits)")
            .with(model_constructor<D>)
            .method<build_table>("build_table($self, max_entries, *, progress=None)",
                                 "Build the lookup table by enumerating errors up to `max_entries`.")
            .method<decode_method<&D::decode, "Invalid syndrome: ">>("decode($self, syndrome)",
                                                                     "Decode a single syndrome (NumPy array).")
            .method<batch_method<&D::batch_decode, "Invalid syndromes: ">>(
                "batch_decode($self, syndromes)", "Batch decode (NumPy 2D array, shape (batch, n_checks)).")
            .with(observable_predictions<D>, size_getters<D>)
            .getter<&D::table_size>("table_size");
    return spec;
}

}  // namespace vornex::py
