// LookupTableDecoder: a syndrome table of Union-Find corrections.
#include "classical/lookup_table.h"
#include "module/binding.h"
#include "module/registry.h"

namespace vornex::py {
ModuleItem& lookup_table_decoder_class() {
    using D = LookupTable;
    static ClassSpec spec =
        ClassSpec::of<construct_from_code<D>>("LookupTableDecoder(check_to_qubits, n_qubits)")
            .method<plain_method<&D::build_table>>("build_table($self, max_entries)",
                                              "Build the lookup table by enumerating errors up to `max_entries`.")
            .method<decode_method<&D::decode, "Invalid syndrome: ">>("decode($self, syndrome)",
                                                                     "Decode a single syndrome (NumPy array).")
            .method<batch_method<&D::batch_decode, "Invalid syndromes: ">>(
                "batch_decode($self, syndromes)", "Batch decode (NumPy 2D array, shape (batch, n_checks)).")
            .getter<&D::n_qubits>("n_qubits")
            .getter<&D::n_checks>("n_checks")
            .getter<&D::table_size>("table_size");
    return spec;
}

}  // namespace vornex::py
