// SparseBlossomDecoder: matching on breadth-first path costs.
#include "matching/sparse_blossom.h"
#include "module/binding.h"
#include "module/registry.h"

namespace vornex::py {

ModuleItem& sparse_blossom_decoder_class() {
    using D = SparseBlossomDecoder;
    static ClassSpec spec =
        check_graph_class<D>("SparseBlossomDecoder(check_to_qubits, n_qubits)")
            .method<decode_method<&D::decode, "Invalid syndrome: ", Syndrome::LengthFirst>>("decode($self, syndrome)")
            .method<decode_method<&D::decode_with_weights, "Invalid syndrome: ", Syndrome::LengthFirst>>(
                "decode_with_weights($self, syndrome, weights)")
            .method<batch_method<RowsDecode<D>(&D::batch_decode), "Invalid syndromes: ">>(
                "batch_decode($self, syndromes)")
            .with(size_getters<D>);
    return spec;
}

}  // namespace vornex::py
