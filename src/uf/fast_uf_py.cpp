// FastUnionFindDecoder: the fast-path Union-Find decoder.
#include "module/binding.h"
#include "module/registry.h"
#include "uf/fast_uf.h"

namespace vornex::py {

ModuleItem& fast_union_find_decoder_class() {
    using D = FastUnionFindDecoder;
    static ClassSpec spec =
        ClassSpec::of<construct_from_code<D>>("FastUnionFindDecoder(check_to_qubits, n_qubits)")
            .class_method<from_check_matrix<D>>(kFromCheckMatrixSignature, kFromCheckMatrixDoc)
            .method<decode_method<&D::decode, "Invalid syndrome: ", Syndrome::LengthFirst>>("decode($self, syndrome)")
            .method<batch_method<&D::batch_decode, "Invalid syndromes: ">>("batch_decode($self, syndromes)")
            .getter<&D::n_qubits>("n_qubits")
            .getter<&D::n_checks>("n_checks");
    return spec;
}

}  // namespace vornex::py
