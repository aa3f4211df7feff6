// LookupTableDecoder: a syndrome table of Union-Find corrections.
#include "classical/lookup_table.h"
#include "module/binding.h"
#include "module/registry.h"
#include "module/syndrome_arrays.h"

namespace vornex::py {
namespace {

PyObject* build_table(LookupTable& table, const Args& args) {
    table.build_table(args.get<uint64_t>(0));
    return py_none();
}

PyObject* decode(const LookupTable& table, const Args& args) {
    auto view = args.u8_array(0, 1);
    return to_array(unwrap(table.decode(syndrome_bytes(view, "Invalid syndrome: "))));
}

PyObject* batch_decode(const LookupTable& table, const Args& args) {
    auto view = args.u8_array(0, -1);
    const SyndromeRows rows = syndrome_rows(view, table.n_checks(), "Invalid syndromes: ");
    return to_array(table.batch_decode(rows.bytes, rows.n_shots),
                    {static_cast<npy_intp>(rows.n_shots), static_cast<npy_intp>(table.n_qubits())});
}

}  // namespace

ModuleItem& lookup_table_decoder_class() {
    static ClassSpec spec =
        ClassSpec::of<construct_from_code<LookupTable>>("LookupTableDecoder(check_to_qubits, n_qubits)")
            .method<build_table>("build_table($self, max_entries)",
                                 "Build the lookup table by enumerating errors up to `max_entries`.")
            .method<decode>("decode($self, syndrome)", "Decode a single syndrome (NumPy array).")
            .method<batch_decode>("batch_decode($self, syndromes)",
                                  "Batch decode (NumPy 2D array, shape (batch, n_checks)).")
            .getter<&LookupTable::n_qubits>("n_qubits")
            .getter<&LookupTable::n_checks>("n_checks")
            .getter<&LookupTable::table_size>("table_size");
    return spec;
}

}  // namespace vornex::py
