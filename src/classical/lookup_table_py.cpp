// LookupTableDecoder: a syndrome table of Union-Find corrections.
#include "classical/lookup_table.h"
#include "module/binding.h"
#include "module/registry.h"
#include "module/syndrome_arrays.h"

namespace vornex::py {
namespace {

std::unique_ptr<LookupTable> construct(const Args& args) {
    auto checks = args.get<CheckList>(0);
    auto n_qubits = args.get<std::optional<uint64_t>>(1);
    return std::make_unique<LookupTable>(unwrap(LookupTable::create(std::move(checks), n_qubits)));
}

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

PyObject* n_qubits(const LookupTable& table) { return py_int(table.n_qubits()); }
PyObject* n_checks(const LookupTable& table) { return py_int(table.n_checks()); }
PyObject* table_size(const LookupTable& table) { return py_int(table.table_size()); }

}  // namespace

ModuleItem& lookup_table_decoder_class() {
    static ClassSpec spec =
        ClassSpec::of<construct>("LookupTableDecoder(check_to_qubits, n_qubits)")
            .method<build_table>("build_table($self, max_entries)",
                                 "Build the lookup table by enumerating errors up to `max_entries`.")
            .method<decode>("decode($self, syndrome)", "Decode a single syndrome (NumPy array).")
            .method<batch_decode>("batch_decode($self, syndromes)",
                                  "Batch decode (NumPy 2D array, shape (batch, n_checks)).")
            .getter<n_qubits>("n_qubits")
            .getter<n_checks>("n_checks")
            .getter<table_size>("table_size");
    return spec;
}

}  // namespace vornex::py
