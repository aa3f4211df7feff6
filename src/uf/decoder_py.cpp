// UnionFindDecoder: the reference Union-Find decoder.
#include "module/binding.h"
#include "module/registry.h"
#include "uf/decoder.h"

namespace vornex::py {

ModuleItem& union_find_decoder_class() {
    using D = UnionFindDecoder;
    static ClassSpec spec =
        ClassSpec::of<construct_from_code<D>>("UnionFindDecoder(check_to_qubits, n_qubits)")
            .class_method<from_check_matrix<D>>(kFromCheckMatrixSignature, kFromCheckMatrixDoc)
            .class_method<construct_from_model<D>>("from_detector_error_model($type, model)", kFromModelDoc)
            .method<decode_method<&D::decode, "Invalid syndrome array: ", Syndrome::LengthFirst>>(
                "decode($self, syndrome)")
            .method<batch_method<&D::batch_decode, "Invalid syndromes array: ">>("batch_decode($self, syndromes)")
            .method<predict_observables_method<D>>(kPredictSignature, kPredictDoc)
            .method<predict_observables_batch_method<D>>(kPredictBatchSignature, kPredictBatchDoc)
            .getter<&D::n_qubits>("n_qubits")
            .getter<&D::n_checks>("n_checks");
    return spec;
}

}  // namespace vornex::py
