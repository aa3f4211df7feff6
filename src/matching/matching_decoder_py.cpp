// MatchingDecoder: exact minimum-weight matching on the sparse engine. All
// methods read the decoder only (scratch lives on the calling thread), so
// they share the object.
#include "matching/matching_decoder.h"
#include "module/binding.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

std::unique_ptr<MatchingDecoder> construct(const Args& args) {
    warn_if_check_matrix(args);
    auto checks = args.get<CheckList>(0);
    auto n_qubits = args.get<std::optional<uint64_t>>(1);
    auto weights = args.get<std::optional<std::vector<double>>>(2);
    return std::make_unique<MatchingDecoder>(
        unwrap(MatchingDecoder::create(std::move(checks), n_qubits, std::move(weights))));
}

}  // namespace

ModuleItem& matching_decoder_class() {
    using D = MatchingDecoder;
    static ClassSpec spec =
        ClassSpec::of<construct>("MatchingDecoder(check_to_qubits, n_qubits, *, weights=None)")
            .class_method<weighted_from_check_matrix<D>>(kWeightedFromCheckMatrixSignature,
                                                      kWeightedFromCheckMatrixDoc)
            .class_method<construct_from_model<D>>("from_detector_error_model($type, model)", kFromModelDoc)
            .method<decode_method<&D::decode, "Invalid syndrome: ">>("decode($self, syndrome)")
            .method<batch_method<&D::batch_decode, "Invalid syndromes: ">>("batch_decode($self, syndromes)")
            .method<predict_observables_method<D>>(kPredictSignature, kPredictDoc)
            .method<predict_observables_batch_method<D>>(kPredictBatchSignature, kPredictBatchDoc)
            .getter<&D::n_qubits>("n_qubits")
            .getter<&D::n_checks>("n_checks")
            .getter<&D::num_observables>("num_observables");
    return spec;
}

}  // namespace vornex::py
